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
    // A grey that reads on any panel: at least 3:1 (the WCAG 2 minimum for
    // graphics) against black and against white alike, because many trays
    // (tint2, stalonetray and other XEmbed trays) say nothing of what they
    // are drawn on and the app's palette may not match the panel. Within
    // that, the lighter grey where a dark panel is likely: GNOME's top bar,
    // which is dark in both its styles, or a dark palette.
    static QColor glyphColor(std::string_view currentDesktop, const QPalette& palette);
};

} // namespace ferlow
