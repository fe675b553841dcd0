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

// The delegate's options as the app gives them, with a tray or without.
inline AppDelegate::Options delegateOptions(bool trayAvailable, std::function<void()> quit = [] { })
{
    AppDelegate::Options options;
    options.trayAvailable = trayAvailable;
    options.qrModules = [](const QString& url) { return QRCodeView::modules(url.toStdString()); };
    options.quit = std::move(quit);
    return options;
}

} // namespace ferlow::test
