#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "FerlowLinux/KeyboardLayout.h"
#include "FerlowLinux/LinuxEvent.h"
#include "FerlowLinux/PortalPoster.h"
#include "FerlowLinux/XTestPoster.h"

namespace ferlow {

// The way input reaches the desktop, chosen once at start, by the kind of
// session:
// - Wayland: the desktop's RemoteDesktop portal when it offers a keyboard
//   and a pointer (nothing to install; the user allows it once in the
//   desktop's dialog), else uinput when its device can be written, else
//   none. XTest would reach only XWayland's windows.
// - X11: XTest, else uinput. XTest puts the pointer exactly where the pad's
//   own acceleration curve sent it and types by key symbol, so the keyboard
//   layout is respected; a uinput device is one more mouse to the desktop,
//   which adds its pointer acceleration on top, and it types key positions,
//   right only for the layout it assumes (KeyboardLayout).
// - Anything else (a console): uinput, else XTest.
// With none, posting drops everything.
class InputBackend final {
public:
    enum class Kind { portal, uinput, xtest, none };
    enum class Session { other, x11, wayland };

    // From XDG_SESSION_TYPE ("x11", "wayland"), or where it is unset: x11
    // when only DISPLAY is set, wayland when WAYLAND_DISPLAY is.
    static Session session();

    struct Options {
        std::filesystem::path uinputPath = "/dev/uinput";
        std::string display; // empty: $DISPLAY
        // Called once, on the posting thread, if the chosen uinput or XTest
        // backend is lost. The portal reports through its own options.
        std::function<void(const std::string& message)> onLoss;
        Session session = Session::other;
        PortalPoster::Options portal;
        // Typing: XTest's pauses run through `defer` (on the posting
        // thread); characters no key could type are told to `untyped`.
        XTestPoster::Defer defer {};
        std::function<void(const std::string& characters)> untyped {};
        // The layout uinput types for; absent: KeyboardLayout::systemNames().
        std::optional<KeyboardLayout::Names> layout {};
    };

    static InputBackend choose(Options options);

    Kind kind() const { return m_kind; }
    // "portal", "uinput", "XTest" or "none", for the app to report.
    std::string_view name() const;
    // Why the backends tried before the chosen one were passed over, for
    // the permission help: "portal: ...; uinput: /dev/uinput is not
    // writable"; empty when the first one was chosen.
    const std::string& reasons() const { return m_reasons; }

    std::shared_ptr<LinuxEventSink> sink() const { return m_sink; }
    // The portal's session, to start and to watch; null for the others.
    std::shared_ptr<PortalPoster> portal() const { return m_portal; }

    // Whether the chosen backend can inject now. Cheap and callable from any
    // thread: it reads the state the posting thread last saw.
    bool canInject() const { return m_canInject(); }

    // Whether text can be typed: by keysym through XTest, and through uinput
    // where the keyboard layout compiled. `typing()` says how, or why not,
    // for the app to report ("typing for the keyboard layout de"); empty for
    // XTest.
    bool canType() const { return m_canType; }
    const std::string& typing() const { return m_typing; }

private:
    InputBackend(Kind kind, std::shared_ptr<LinuxEventSink> sink, std::function<bool()> canInject, std::string reasons);

    Kind m_kind;
    bool m_canType = false;
    std::string m_typing;
    std::shared_ptr<LinuxEventSink> m_sink;
    std::function<bool()> m_canInject;
    std::string m_reasons;
    std::shared_ptr<PortalPoster> m_portal;
};

} // namespace ferlow
