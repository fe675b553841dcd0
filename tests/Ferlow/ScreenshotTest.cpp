// Renders every window and the status popup to PNG files in the build
// folder, light and dark, at the scale the test runs with (QT_SCALE_FACTOR),
// for people to look at.

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QListWidget>
#include <QPalette>
#include <QStyle>
#include <gtest/gtest.h>

#include "Ferlow/AppDelegate.h"
#include "Ferlow/QRCodeView.h"
#include "Ferlow/TrayIcon.h"
#include "tests/FerlowHost/TestPhone.h"
#include "tests/Ferlow/TrayFixture.h"

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

AppDelegate::Options options(bool trayAvailable)
{
    AppDelegate::Options result;
    result.trayAvailable = trayAvailable;
    result.quit = [] { };
    result.qrModules = [](const QString& url) { return QRCodeView::modules(url.toStdString()); };
    return result;
}

struct Shots {
    QString folder = QStringLiteral(FERLOW_SCREENSHOT_DIR);
    QString suffix;

    void take(QWidget* window, const QString& name) const
    {
        ASSERT_TRUE(window);
        window->show();
        QApplication::processEvents();
        const auto image = window->grab();
        EXPECT_TRUE(image.save(folder + '/' + name + suffix + QStringLiteral(".png")));
    }
};

TEST(Screenshots, EveryWindowLightAndDark)
{
    QDir().mkpath(QStringLiteral(FERLOW_SCREENSHOT_DIR));
    const auto scale = qRound(qApp->devicePixelRatio());
    const QPalette light = QApplication::style()->standardPalette();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : light);
        const Shots shots {.suffix = QStringLiteral("-%1@%2x").arg(dark ? "dark" : "light").arg(scale)};

        // The tray icon as a panel of this brightness gets it.
        const auto icon = TrayIcon::draw(TrayIcon::glyphColor("KDE", QApplication::palette()), TrayIcon::side * scale);
        EXPECT_TRUE(icon.save(shots.folder + QStringLiteral("/tray-icon") + shots.suffix + QStringLiteral(".png")));

        // First launch: the terms, then the onboarding.
        {
            TrayFixture fixture({.trusted = false, .termsAgreed = false, .shortcuts = {}});
            AppDelegate delegate(*fixture.model, fixture.main, options(false));
            delegate.launch();
            shots.take(delegate.termsWindow(), QStringLiteral("terms"));
            shots.take(delegate.statusWindow(), QStringLiteral("status-no-tray"));
            delegate.showOnboarding();
            shots.take(delegate.onboardingWindow(), QStringLiteral("onboarding"));
            fixture.model->stop();
        }
        // A phone in use, another one paired before, a clash in the buttons.
        {
            TrayFixture fixture;
            auto& model = *fixture.model;
            fixture.usedPairing("Old phone");
            AppDelegate delegate(model, fixture.main, options(true));
            delegate.launch();
            const auto fresh = model.store().createPending();
            test::LoopbackPhone phone(model.port(), fresh);
            phone.connect("Pixel 8");
            ASSERT_TRUE(fixture.main.runUntil([&] { return model.connectedDevice().has_value(); }));
            model.updateChanged(UpdateStatus::available("0.2.0"));
            delegate.togglePopover();
            shots.take(delegate.statusWindow(), QStringLiteral("status"));

            delegate.showPairing();
            shots.take(delegate.pairingWindow(), QStringLiteral("pairing"));

            auto buttons = model.actions();
            buttons[11].kind = ActionKind::key(8, 0x100000); // Paste sends ⌘C, as Copy does
            model.setActions(buttons);
            delegate.showActions();
            TrayFixture::settle();
            auto* list = delegate.actionsWindow()->findChild<QListWidget*>();
            list->scrollToItem(list->item(12), QAbstractItemView::PositionAtCenter);
            shots.take(delegate.actionsWindow(), QStringLiteral("actions"));
            model.stop();
        }
    }
    QApplication::setPalette(light);
}

} // namespace
} // namespace ferlow
