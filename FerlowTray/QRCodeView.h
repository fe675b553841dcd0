#pragma once

#include <QImage>
#include <QWidget>
#include <string_view>

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
    void setModules(QImage modules);

    // The modules of `text`'s QR code (level M), one pixel each, without a
    // quiet zone: the white card around it is one. Null when the text does
    // not fit a code.
    static QImage modules(std::string_view text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_modules;
};

} // namespace ferlow
