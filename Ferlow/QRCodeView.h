#pragma once

#include <QImage>
#include <QWidget>

namespace ferlow {

// A QR code on a white card: the symbol exactly `side` logical pixels
// square, inset `padding` on a rounded white rectangle. Modules are scaled
// nearest-neighbour straight to device pixels, so their edges stay sharp at
// any scale factor.
class QRCodeView final : public QWidget {
public:
    static constexpr int side = 220;
    static constexpr int padding = 14;
    static constexpr qreal cornerRadius = 18;

    // `modules` holds one pixel per module, dark modules black.
    explicit QRCodeView(QImage modules, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_modules;
};

} // namespace ferlow
