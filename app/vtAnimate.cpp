#include "vtAnimate.h"

#include <QPainter>
#include <QTimerEvent>

#include <cmath>
#include <numbers>

namespace vt::app {

TAnimate::TAnimate(QWidget *parent) : QWidget(parent)
{
    setFixedSize(20, 20);
}

void TAnimate::SetActive(bool active)
{
    if (active) {
        m_Timer.start(80, this);
    } else {
        m_Timer.stop();
    }
    update();
}

void TAnimate::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_Timer.timerId())
        return QWidget::timerEvent(event);
    m_Frame = (m_Frame + 1) % 8;
    update();
}

void TAnimate::paintEvent(QPaintEvent *)
{
    if (!Active())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(width() / 2.0, height() / 2.0);
    for (int i = 0; i < 8; ++i) {
        const double angle = i * std::numbers::pi / 4;
        const int age = (m_Frame - i + 8) % 8;
        QColor c = palette().color(QPalette::WindowText);
        c.setAlphaF(1.0 - age / 9.0);
        p.setBrush(c);
        p.setPen(Qt::NoPen);
        p.drawEllipse(centre + QPointF(6 * std::cos(angle), 6 * std::sin(angle)), 1.6, 1.6);
    }
}

} // namespace vt::app
