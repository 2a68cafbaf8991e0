#pragma once
// A small busy indicator for the tool bar: a ring of dots that turns while
// active; inactive it keeps its place and shows nothing.

#include <QBasicTimer>
#include <QWidget>

namespace vt::app {

class TAnimate : public QWidget {
public:
    explicit TAnimate(QWidget *parent = nullptr);
    bool Active() const { return m_Timer.isActive(); }
    void SetActive(bool active);
    QSize sizeHint() const override { return {20, 20}; }

protected:
    void paintEvent(QPaintEvent *) override;
    void timerEvent(QTimerEvent *event) override;

private:
    QBasicTimer m_Timer;
    int m_Frame = 0;
};

} // namespace vt::app
