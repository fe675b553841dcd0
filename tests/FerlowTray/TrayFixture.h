#pragma once

// The app fixture for the tray's views, which run inside the suite's one
// QApplication.

#include <QApplication>

#include "FerlowTray/AppDelegate.h"
#include "FerlowTray/QRCodeView.h"
#include "tests/Ferlow/AppFixture.h"

namespace ferlow::test {

struct TrayFixture : AppFixture {
    using AppFixture::AppFixture;
    // Windows and rows retired with deleteLater go before the model's folder does.
    ~TrayFixture()
    {
        model.reset();
        settle();
    }

    // Lets queued view updates and deferred deletions happen.
    static void settle()
    {
        QApplication::sendPostedEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

// The whole tray app on a pretend desktop, with a tray to sit in or without.
struct Tray {
    explicit Tray(AppSetup setup = {}, bool trayAvailable = true) : fixture(std::move(setup)), delegate(*fixture.model, fixture.main, [&] {
        AppDelegate::Options options;
        options.trayAvailable = trayAvailable;
        options.qrModules = [](const QString& url) { return QRCodeView::modules(url.toStdString()); };
        options.quit = [this] { ++quits; };
        return options;
    }())
    {
    }
    ~Tray() { fixture.model->stop(); }

    TrayFixture fixture;
    AppDelegate delegate;
    int quits = 0;
};

} // namespace ferlow::test
