#pragma once

// A real app model for the tray's views: hand-run main context with a fake
// clock, a real I/O thread, real files in a temporary folder, and fakes only
// where the model meets the desktop.

#include <QApplication>
#include <atomic>
#include <memory>
#include <optional>

#include <asio/ip/tcp.hpp>

#include "Ferlow/AppModel.h"
#include "FerlowHost/MemorySettingsStore.h"
#include "tests/FerlowHost/TestPhone.h"
#include "tests/Ferlow/ManualMainContext.h"
#include "tests/Support/RecordingPoster.h"
#include "tests/Support/TestSupport.h"

namespace ferlow::test {

struct FakePermissions final : Permissions {
    bool isTrusted() const override { return trusted; }
    void prompt() override { ++prompts; }
    void openSettings() override { }
    std::atomic<bool> trusted {true};
    int prompts = 0;
};

struct TraySetup {
    bool trusted = true;
    bool termsAgreed = true;
    std::vector<SystemShortcut> shortcuts;
};

struct TrayFixture {
    explicit TrayFixture(TraySetup setup = {})
    {
        writeFile(folder.path() / "pad" / "index.html", "<p>pad</p>");
        settings->set(AppModel::portKey, freePort());
        if (setup.termsAgreed)
            settings->set(AppModel::termsAcceptedKey, 1);
        permissions->trusted = setup.trusted;
        shortcuts = std::move(setup.shortcuts);
        model = std::make_unique<AppModel>(main, io, platform(), AppEnvironment {},
            AppModel::Options {.version = "1.0", .fetch = [](const std::string&, UpdateChecker::Completion done) {
                                   done(std::nullopt);
                               }});
    }

    ~TrayFixture()
    {
        model.reset();
        // Windows and rows retired with deleteLater go before the model's
        // folder does.
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    Platform platform()
    {
        Platform p;
        p.settings = settings;
        p.permissions = permissions;
        p.makePoster = [this] { return poster; };
        p.inputBackend = "uinput";
        p.setLoginItem = [this](bool on) {
            if (!loginItemWorks)
                return false;
            loginItem = on;
            return true;
        };
        p.loginItemEnabled = [this] { return loginItem; };
        p.systemShortcuts = [this] { return shortcuts; };
        p.supportDirectory = folder.path() / "data";
        p.padDirectory = folder.path() / "pad";
        p.uninstall = [] { return std::vector<std::string> {}; };
        p.localHostName = "desk";
        return p;
    }

    // A phone that has paired and connected once, just now.
    Pairing usedPairing(const std::string& name)
    {
        const auto pairing = model->store().createPending();
        model->store().markUsed(pairing.id, name);
        model->refresh();
        return *model->store().lookup(pairing.id);
    }

    // Lets queued view updates and deferred deletions happen.
    static void settle()
    {
        QApplication::sendPostedEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    TemporaryDirectory folder;
    std::shared_ptr<MemorySettingsStore> settings = std::make_shared<MemorySettingsStore>();
    std::shared_ptr<FakePermissions> permissions = std::make_shared<FakePermissions>();
    std::shared_ptr<RecordingPoster> poster = std::make_shared<RecordingPoster>();
    std::vector<SystemShortcut> shortcuts;
    bool loginItem = false;
    bool loginItemWorks = true;
    ManualMainContext main;
    IOQueue io;
    std::unique_ptr<AppModel> model;
};

} // namespace ferlow::test
