#include "FerlowTray/TrayIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "FerlowTray/ViewStyle.h"

namespace ferlow {

QImage TrayIcon::draw(const QColor& color, int pixels)
{
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(qreal(pixels) / side, qreal(pixels) / side);
    // In an 18 × 18 square with the origin at the top left: the pad, 13 × 11
    // at (2.5, 3.5) with rounded corners, stroked 1.4 wide; the fingertip, a
    // 4.4 wide disc at (8.6, 7.4).
    painter.setPen(QPen(color, 1.4));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(2.5, 3.5, 13, 11), 3, 3);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(8.6, 7.4, 4.4, 4.4));
    return image;
}

QIcon TrayIcon::icon(const QColor& color)
{
    QIcon icon;
    for (const int pixels : {16, 18, 22, 24, 32, 36, 44, 48, 64})
        icon.addPixmap(QPixmap::fromImage(draw(color, pixels)));
    return icon;
}

QColor TrayIcon::glyphColor(std::string_view currentDesktop, const QPalette& palette)
{
    const bool gnome = currentDesktop.find("GNOME") != std::string_view::npos;
    // Relative luminance 0.26 and 0.12: 6.2:1 on the panel they lean to,
    // 3.4:1 on the other.
    return gnome || ViewStyle::isDark(palette) ? QColor(140, 140, 140) : QColor(97, 97, 97);
}

} // namespace ferlow
