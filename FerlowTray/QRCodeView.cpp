#include "FerlowTray/QRCodeView.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

#include "Ferlow/QRCode.h"

namespace ferlow {

QRCodeView::QRCodeView(QImage modules, QWidget* parent) : QWidget(parent), m_modules(std::move(modules))
{
    setFixedSize(side + 2 * padding, side + 2 * padding);
}

void QRCodeView::setModules(QImage modules)
{
    m_modules = std::move(modules);
    update();
}

QImage QRCodeView::modules(std::string_view text)
{
    const auto code = QRCode::encode(text);
    if (!code)
        return {};
    QImage image(code->size(), code->size(), QImage::Format_Mono);
    image.setColorTable({qRgb(255, 255, 255), qRgb(0, 0, 0)});
    for (int y = 0; y < code->size(); ++y)
        for (int x = 0; x < code->size(); ++x)
            image.setPixel(x, y, code->dark(x, y) ? 1 : 0);
    return image;
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
