#include "FerlowTray/ViewStyle.h"

#include <QPainter>

// The symbols are compiled into the static app library, whose resources are
// only registered when asked for by name (outside any namespace).
static void registerSymbols()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(ViewIcons);
        return true;
    }();
    (void)registered;
}

namespace ferlow {

namespace {

struct SymbolFiles {
    const char* themeName; // the freedesktop icon naming's symbolic name
    const char* resource;  // Ferlow's drawing
};

SymbolFiles files(ViewStyle::Symbol symbol)
{
    using S = ViewStyle::Symbol;
    switch (symbol) {
    case S::arrowDownCircle:
        return {"software-update-available-symbolic", ":/ferlow/icons/arrow-down-circle.svg"};
    case S::docText:
        return {"text-x-generic-symbolic", ":/ferlow/icons/doc-text.svg"};
    case S::handRaised:
        return {"ferlow-hand-raised-symbolic", ":/ferlow/icons/hand-raised.svg"};
    case S::exclamationTriangle:
        return {"dialog-warning-symbolic", ":/ferlow/icons/exclamation-triangle.svg"};
    case S::iphone:
        return {"phone-symbolic", ":/ferlow/icons/phone.svg"};
    case S::qrcode:
        return {"view-barcode-qr-symbolic", ":/ferlow/icons/qrcode.svg"};
    case S::grid:
        return {"view-grid-symbolic", ":/ferlow/icons/grid.svg"};
    case S::checkmarkCircle:
        return {"emblem-ok-symbolic", ":/ferlow/icons/checkmark-circle.svg"};
    case S::clock:
        return {"appointment-soon-symbolic", ":/ferlow/icons/clock.svg"};
    case S::minusCircle:
        return {"list-remove-symbolic", ":/ferlow/icons/minus-circle.svg"};
    case S::plus:
        return {"list-add-symbolic", ":/ferlow/icons/plus.svg"};
    case S::handPointing:
        return {"input-touchpad-symbolic", ":/ferlow/icons/hand-pointing.svg"};
    }
    return {"", ""};
}

} // namespace

bool ViewStyle::isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

QColor ViewStyle::color(Tint tint, const QPalette& palette)
{
    const bool dark = isDark(palette);
    QColor text = palette.color(QPalette::WindowText);
    switch (tint) {
    case Tint::text:
        return text;
    case Tint::secondary:
        text.setAlphaF(0.6f);
        return text;
    case Tint::tertiary:
        text.setAlphaF(0.4f);
        return text;
    case Tint::orange:
        // Darker on light backgrounds, so orange text stays readable.
        return dark ? QColor(255, 159, 10) : QColor(214, 116, 0);
    case Tint::green:
        return dark ? QColor(48, 209, 88) : QColor(36, 150, 64);
    }
    return text;
}

QFont ViewStyle::font(Text style, QFont base)
{
    const qreal size = base.pointSizeF() > 0 ? base.pointSizeF() : 10;
    const auto sized = [&](qreal factor, QFont::Weight weight) {
        base.setPointSizeF(size * factor);
        base.setWeight(weight);
        return base;
    };
    switch (style) {
    case Text::title2:
        return sized(1.5, QFont::DemiBold);
    case Text::title3:
        return sized(1.25, QFont::DemiBold);
    case Text::headline:
        return sized(1.0, QFont::DemiBold);
    case Text::body:
        return sized(1.0, QFont::Normal);
    case Text::callout:
        return sized(0.95, QFont::Normal);
    case Text::caption:
        return sized(0.85, QFont::Normal);
    case Text::captionSemibold:
        return sized(0.85, QFont::DemiBold);
    case Text::symbol:
        return sized(2.6, QFont::Light);
    }
    return base;
}

QIcon ViewStyle::icon(Symbol symbol)
{
    registerSymbols();
    const auto [themeName, resource] = files(symbol);
    return QIcon::fromTheme(QString::fromLatin1(themeName), QIcon(QString::fromLatin1(resource)));
}

QPixmap ViewStyle::tinted(Symbol symbol, const QColor& color, int size, qreal scale)
{
    QPixmap pixmap = icon(symbol).pixmap(QSize(size, size), scale);
    if (pixmap.isNull())
        return pixmap;
    // Symbolic icons are one shape; painting the colour through their alpha
    // gives the design's tint whatever colour the theme drew them in.
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(QPointF(0, 0), pixmap.deviceIndependentSize()), color);
    return pixmap;
}

QIcon ViewStyle::tintedIcon(Symbol symbol, const QColor& color, int size)
{
    QIcon result;
    for (const qreal scale : {1.0, 1.5, 2.0, 3.0})
        result.addPixmap(tinted(symbol, color, size, scale));
    return result;
}

void ViewStyle::setTextStyle(QWidget* widget, Text style) { widget->setFont(font(style, QFont())); }

void ViewStyle::setTint(QWidget* widget, const QColor& color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

SymbolView::SymbolView(ViewStyle::Symbol symbol, int size, QWidget* parent)
    : QWidget(parent), m_symbol(symbol), m_color(palette().color(QPalette::WindowText)), m_size(size)
{
    setFixedSize(size, size);
}

void SymbolView::setSymbol(ViewStyle::Symbol symbol, const QColor& color)
{
    m_symbol = symbol;
    m_color = color;
    update();
}

void SymbolView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, ViewStyle::tinted(m_symbol, m_color, m_size, painter.device()->devicePixelRatioF()));
}

} // namespace ferlow
