#include "Ferlow/QRCodeView.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace ferlow {

QRCodeView::QRCodeView(QImage modules, QWidget* parent) : QWidget(parent), m_modules(std::move(modules))
{
    setFixedSize(side + 2 * padding, side + 2 * padding);
}

void QRCodeView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    if (m_modules.isNull())
        return;

    const qreal scale = painter.device()->devicePixelRatioF();
    const int pixels = static_cast<int>(std::lround(side * scale));
    QImage symbol = m_modules.scaled(pixels, pixels, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    symbol.setDevicePixelRatio(scale);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    // On a whole device pixel, or a fractional scale would shift every edge.
    const qreal origin = std::round(padding * scale) / scale;
    painter.drawImage(QPointF(origin, origin), symbol);
}

} // namespace ferlow
