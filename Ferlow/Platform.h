#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FerlowCore/ActionKind.h"
#include "FerlowCore/LocalNetworkPolicy.h"
#include "FerlowCore/TrackpadPrefs.h"
#include "FerlowHost/Permissions.h"
#include "FerlowHost/SettingsStore.h"
#include "FerlowInput/EventPoster.h"
#include "FerlowInput/SystemShortcut.h"
#include "FerlowInput/Translator.h"
#include "FerlowLinux/FrontApp.h"

namespace ferlow {

// Everything the app model needs from the operating system, gathered in one
// place so the model builds and runs without a desktop. One factory fills it
// per platform; tests fill it with fakes and temporary folders. Each entry
// says on which context it is used.
struct Platform {
    // Main context. The user's settings ("port", "termsAccepted", ...).
    std::shared_ptr<SettingsStore> settings;
    // Any context: whether input may be injected; help towards granting it.
    std::shared_ptr<Permissions> permissions;

    // Called once at construction; the poster is then used on the I/O queue.
    std::function<std::shared_ptr<EventPoster>()> makePoster;
    std::string inputBackend; // how input reaches the desktop, for people ("xtest", "uinput", "none")
    std::string inputProblem; // without a backend, why and what to do, for people; else empty
    // Whether the poster can type text from the phone's keyboard.
    bool typing = false;
    // I/O queue. Names where the poster tells the characters of typed text
    // that no key could produce.
    std::function<void(std::function<void(const std::string& characters)>)> reportUntypedTo;

    // I/O queue: the displays and the desktop's pointer, for the translator.
    Translator::LayoutSource layout;
    Translator::CursorSource cursor;

    // Main context. The application in front now; absent when there is none
    // or no desktop to ask.
    std::function<std::optional<FrontApp>()> frontApp;
    // Main context. Starts following front-application changes: `changed`
    // runs on the main context after each one. Following stops when the
    // returned token goes. Empty when the desktop cannot be followed.
    std::function<std::shared_ptr<void>(std::function<void()> changed)> observeFrontApp;
    // False where the desktop cannot say which application is in front (no
    // Wayland interface does), so the per-app buttons never show.
    bool frontAppKnown = true;

    // Main context. Opening at login: whether it is on, and switching it;
    // the switch returns false when it could not be done.
    std::function<bool()> loginItemEnabled;
    std::function<bool(bool on)> setLoginItem;
    // Main context. Whether a user service starts Ferlow at login instead;
    // while it does, the login item stays off, so that only one of them runs.
    std::function<bool()> loginByService;
    // Whether the program is installed. One in a build tree registers no
    // login item by itself: the entry would start that build at every login.
    bool installed = true;

    // I/O queue. Tells the input path which application is in front (its
    // bundle identifier, empty for none), for chords that differ by app.
    std::function<void(const std::string& bundleID)> frontAppForInput;
    // I/O queue. Lets go of every key and button the input path still
    // holds, after the last session has ended on stop.
    std::function<void()> releaseInput;

    // Main context. The desktop's own settings, read afresh on each call.
    std::function<TrackpadPrefs()> trackpadPrefs;
    // Main context. Starts following the two things the model would
    // otherwise poll: `changed` runs on the main context after each change
    // of trackpadPrefs(), or of permissions->isTrusted(). Following stops
    // when the returned token goes. Empty, or a null token, where the
    // desktop cannot tell: the model then asks now and then.
    std::function<std::shared_ptr<void>(std::function<void()> changed)> observeTrackpadPrefs;
    std::function<std::shared_ptr<void>(std::function<void()> changed)> observePermission;
    std::function<std::vector<SystemShortcut>()> systemShortcuts;
    // Who keeps which combinations for itself, for the conflict texts
    // ("Reserved by GNOME").
    std::string reservedOwner = "macOS";
    std::vector<SystemShortcut::Combination> reserved {SystemShortcut::reserved.begin(), SystemShortcut::reserved.end()};
    // Main context. What a button presses on this desktop, as the desktop
    // writes it ("Ctrl+Shift+T"), with `app` the bundle identifier of the
    // application in front ("" for none); empty for a mouse button; absent
    // when it presses nothing here. Unset: every button presses what it
    // says, and nothing is written out.
    std::function<std::optional<std::string>(const ActionKind& kind, std::string_view app)> describeKeys;

    std::filesystem::path supportDirectory; // pairings and buttons (created 0700 on first save)
    std::filesystem::path padDirectory;     // the pad this installation ships, when FERLOW_PAD_DIR is not set

    // Main context. Removes what the app keeps outside the support folder and
    // the login entry (settings, autostart), then the support folder, and
    // returns what the user must still do by hand, worded for them.
    std::function<std::vector<std::string>()> uninstall;

    // Where phones find this computer (the name the mDNS responder
    // publishes, or an address) when the model is made.
    LocalHost localHost;
    // Main context. Follows where phones find this computer: `changed` runs
    // on the main context with the current answer at once, then after each
    // change, until the returned token goes. Empty when it never changes.
    std::function<std::shared_ptr<void>(std::function<void(const LocalHost&)> changed)> observeLocalHost;
};

} // namespace ferlow
