#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QWidget>

namespace ferlow {

// The few colours, text styles and symbols Ferlow's views share. Colours
// follow the palette, so light and dark desktops both read well; sizes are
// logical pixels.
struct ViewStyle {
    enum class Tint { text, secondary, tertiary, orange, green };
    enum class Text { title2, title3, headline, body, callout, caption, captionSemibold, symbol };
    enum class Symbol {
        arrowDownCircle,
        docText,
        handRaised,
        exclamationTriangle,
        iphone,
        qrcode,
        grid,
        checkmarkCircle,
        clock,
        minusCircle,
        plus,
        handPointing,
    };

    static bool isDark(const QPalette& palette);
    static QColor color(Tint tint, const QPalette& palette);
    static QFont font(Text style, QFont base);

    // The desktop theme's symbolic icon, or Ferlow's own drawing of it.
    static QIcon icon(Symbol symbol);
    // The symbol in one colour, `size` logical pixels square, sharp at `scale`.
    static QPixmap tinted(Symbol symbol, const QColor& color, int size, qreal scale);
    // The same as an icon for buttons, sharp on screens of scale 1 to 3.
    static QIcon tintedIcon(Symbol symbol, const QColor& color, int size = 16);

    // The application font in `style`.
    static void setTextStyle(QWidget* widget, Text style);
    static void setTint(QWidget* widget, const QColor& color);
};

// One symbol, tinted, drawn at the pixel density of whatever it is painted
// on, so it stays sharp on a scaled screen.
class SymbolView final : public QWidget {
public:
    SymbolView(ViewStyle::Symbol symbol, int size, QWidget* parent = nullptr);
    void setSymbol(ViewStyle::Symbol symbol, const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ViewStyle::Symbol m_symbol;
    QColor m_color;
    int m_size;
};

} // namespace ferlow
