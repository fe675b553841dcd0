#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPalette>
#include <string_view>

namespace ferlow {

// Ferlow's tray icon: a pad outline with a fingertip on it, in one colour
// like the desktop's own symbolic status icons.
struct TrayIcon {
    static constexpr int side = 18; // logical pixels of the drawing

    // The glyph `pixels` square, for a screen of `scale`.
    static QImage draw(const QColor& color, int pixels);
    // Every size trays commonly ask for.
    static QIcon icon(const QColor& color);
    // Light on dark panels, dark on light ones. GNOME's top bar is dark in
    // both its styles; elsewhere the panel follows the desktop's palette.
    static QColor glyphColor(std::string_view currentDesktop, const QPalette& palette);
};

} // namespace ferlow
