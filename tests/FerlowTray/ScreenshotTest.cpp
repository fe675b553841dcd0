// Renders every window and the status popup to PNG files in the build
// folder, light and dark, at the scale the test runs with (QT_SCALE_FACTOR),
// for people to look at.

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QListWidget>
#include <QPalette>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

#include "FerlowTray/TrayIcon.h"
#include "tests/FerlowTray/TrayFixture.h"

namespace ferlow {
namespace {

using test::TrayFixture;

QPalette darkPalette()
{
    const QColor text(236, 236, 236);
    QPalette dark(QColor(60, 60, 64), QColor(45, 45, 48)); // button, window; the shades follow
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::ToolTipText})
        dark.setColor(role, text);
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::Link, QColor(90, 160, 255));
    dark.setColor(QPalette::Highlight, QColor(42, 110, 210));
    return dark;
}

// WCAG 2 contrast between the icon's glyph (its most opaque pixel) and a
// panel of relative luminance 0 (black) or 1 (white).
double contrastOn(const QImage& icon, double panel)
{
    QColor glyph(Qt::transparent);
    for (int y = 0; y < icon.height(); ++y)
        for (int x = 0; x < icon.width(); ++x)
            if (icon.pixelColor(x, y).alpha() > glyph.alpha())
                glyph = icon.pixelColor(x, y);
    const auto linear = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const double l = 0.2126 * linear(glyph.redF()) + 0.7152 * linear(glyph.greenF()) + 0.0722 * linear(glyph.blueF());
    return (std::max(l, panel) + 0.05) / (std::min(l, panel) + 0.05);
}

TEST(Screenshots, EveryWindowLightAndDark)
{
    QDir().mkpath(QStringLiteral(FERLOW_SCREENSHOT_DIR));
    const auto scale = qRound(qApp->devicePixelRatio());
    const QPalette light = QApplication::style()->standardPalette();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : light);
        const auto file = [&](const char* name) {
            return QStringLiteral(FERLOW_SCREENSHOT_DIR "/%1-%2@%3x.png").arg(name, dark ? "dark" : "light").arg(scale);
        };
        const auto take = [&](QWidget* window, const char* name) {
            ASSERT_TRUE(window);
            window->show();
            QApplication::processEvents();
            EXPECT_TRUE(window->grab().save(file(name)));
        };

        // The tray icon as this palette gets it reads on a black and on a
        // white panel: trays rarely say which they are.
        const auto icon = TrayIcon::draw(TrayIcon::glyphColor("KDE", QApplication::palette()), TrayIcon::side * scale);
        EXPECT_TRUE(icon.save(file("tray-icon")));
        EXPECT_GE(contrastOn(icon, 0), 3);
        EXPECT_GE(contrastOn(icon, 1), 3);

        // First launch: the terms, then the onboarding.
        {
            test::Tray tray({.trusted = false, .termsAgreed = false}, false);
            tray.delegate.launch();
            take(tray.delegate.termsWindow(), "terms");
            take(tray.delegate.statusWindow(), "status-no-tray");
            tray.delegate.showOnboarding();
            take(tray.delegate.onboardingWindow(), "onboarding");
        }
        // On Wayland, after the desktop's dialog was declined.
        {
            test::Tray tray({.trusted = false, .termsAgreed = true, .inputBackend = "portal",
                .request = Permissions::Request::refused, .desktopAsks = true});
            tray.delegate.launch();
            take(tray.delegate.onboardingWindow(), "onboarding-refused");
        }
        // A phone in use, another one paired before, a clash in the buttons,
        // on a desktop without an overview.
        {
            test::Tray tray({.desktop = KeyProfile::Desktop::genericX11});
            auto& model = *tray.fixture.model;
            tray.fixture.usedPairing("Old phone");
            tray.delegate.launch();
            ASSERT_TRUE(tray.fixture.serverSettled());
            const auto phone = tray.fixture.connectPhone("Pixel 8");
            model.updateChanged(UpdateStatus::available("0.2.0"));
            tray.delegate.togglePopover();
            take(tray.delegate.statusWindow(), "status");

            tray.delegate.showPairing();
            take(tray.delegate.pairingWindow(), "pairing");
            // No mDNS responder: the address and the notice, in the open window.
            tray.fixture.moveTo({"192.168.1.20", false});
            take(tray.delegate.pairingWindow(), "pairing-no-avahi");

            auto buttons = model.actions();
            buttons[11].kind = ActionKind::key(8, 0x100000); // Paste sends ⌘C, as Copy does
            model.setActions(buttons);
            tray.delegate.showActions();
            TrayFixture::settle();
            auto* list = tray.delegate.actionsWindow()->findChild<QListWidget*>();
            list->scrollToItem(list->item(15), QAbstractItemView::PositionAtCenter);
            take(tray.delegate.actionsWindow(), "actions");
        }
    }
    QApplication::setPalette(light);
}

} // namespace
} // namespace ferlow
