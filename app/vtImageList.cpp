#include "vtImageList.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <array>

namespace vt::app {
namespace {

QPixmap blank()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    return pm;
}

QPixmap folder(bool open, const QColor &fill, const QString &badge)
{
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor edge = fill.darker(170);
    p.setPen(edge);
    p.setBrush(fill.darker(115));
    p.drawRect(1, 3, 6, 2); // tab
    p.setBrush(fill);
    if (open) {
        p.drawRect(1, 4, 13, 10);
        QPainterPath flap;
        flap.moveTo(3, 7);
        flap.lineTo(15, 7);
        flap.lineTo(13, 14);
        flap.lineTo(1, 14);
        flap.closeSubpath();
        p.setBrush(fill.lighter(125));
        p.drawPath(flap);
    } else {
        p.drawRect(1, 4, 14, 10);
    }
    if (!badge.isEmpty()) {
        QFont f;
        f.setPixelSize(7);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::black);
        p.drawText(QRect(3, 7, 12, 7), Qt::AlignCenter, badge);
    }
    return pm;
}

QPixmap computer(bool remote)
{
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(1, 1, 13, 9);
    p.setBrush(remote ? QColor(60, 160, 80) : QColor(40, 90, 190));
    p.drawRect(3, 3, 9, 5);
    p.setBrush(QColor(170, 170, 170));
    p.drawRect(5, 11, 5, 1);
    p.drawRect(2, 13, 11, 2);
    if (remote) {
        p.setPen(QColor(20, 120, 40));
        p.drawLine(13, 12, 15, 12);
        p.drawLine(15, 9, 15, 15);
    }
    return pm;
}

QPixmap document(const QColor &tint)
{
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setPen(QColor(90, 90, 90));
    p.setBrush(Qt::white);
    p.drawRect(3, 1, 10, 14);
    p.setPen(tint);
    for (int y = 4; y <= 12; y += 3)
        p.drawLine(5, y, 11, y);
    return pm;
}

// Two lines of small glyphs, like the usual string and binary value icons.
QPixmap valueIcon(const QString &glyphs, const QColor &colour)
{
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setPen(QColor(110, 110, 110));
    p.setBrush(QColor(250, 250, 250));
    p.drawRect(0, 1, 15, 13);
    QFont f;
    f.setPixelSize(8);
    f.setBold(true);
    p.setFont(f);
    p.setPen(colour);
    p.drawText(QRect(1, 2, 14, 11), Qt::AlignCenter, glyphs);
    return pm;
}

std::array<QIcon, ImageListCount> buildImages()
{
    std::array<QIcon, ImageListCount> icons;
    const QColor yellow(240, 200, 80), blue(120, 170, 235), green(130, 205, 120);
    icons[imgComputer] = QIcon(computer(false));
    icons[imgFolder] = QIcon(folder(false, yellow, {}));
    icons[imgFolderOpen] = QIcon(folder(true, yellow, {}));
    icons[imgText] = QIcon(valueIcon(QStringLiteral("ab"), QColor(190, 30, 30)));
    icons[imgData] = QIcon(valueIcon(QStringLiteral("01"), QColor(30, 60, 180)));
    for (int i : {5, 6, 7, 10, 11, 12, 13, 14})
        icons[i] = QIcon(document(QColor(150, 150, 150)));
    icons[imgRegistryFile] = QIcon(document(QColor(40, 90, 190)));
    icons[imgRemoteComputer] = QIcon(computer(true));
    icons[imgFolder32] = QIcon(folder(false, blue, QStringLiteral("32")));
    icons[imgFolder32Open] = QIcon(folder(true, blue, QStringLiteral("32")));
    icons[imgFolder64] = QIcon(folder(false, green, QStringLiteral("64")));
    icons[imgFolder64Open] = QIcon(folder(true, green, QStringLiteral("64")));
    return icons;
}

} // namespace

const QIcon &ImageListIcon(int index)
{
    static const std::array<QIcon, ImageListCount> icons = buildImages();
    static const QIcon none;
    if (index < 0 || index >= ImageListCount)
        return none;
    return icons[std::size_t(index)];
}

} // namespace vt::app
