#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "FerlowLinux/KeyboardLayout.h"
#include "FerlowLinux/LinuxEvent.h"
#include "FerlowLinux/XTestPoster.h"

namespace ferlow {

// The way input reaches the desktop, chosen once at start: uinput when its
// device can be written (works on X11 and Wayland), XTest when an X display
// with the XTEST extension opens, else none (posting drops everything).
//
// On an X11 session XTest is tried first. It puts the pointer exactly where
// the pad's own acceleration curve sent it and types by key symbol, so any
// keyboard layout is respected; a uinput device is one more mouse to the
// desktop, which adds its pointer acceleration on top, and it types key
// positions, right only for the layout it assumes (KeyboardLayout).
// Elsewhere (Wayland, a console) uinput goes first: XTest would reach only
// XWayland's windows.
class InputBackend final {
public:
    enum class Kind { uinput, xtest, none };
    enum class Order { uinputFirst, xtestFirst };

    // xtestFirst on an X11 session: XDG_SESSION_TYPE is "x11", or, where it
    // is unset, DISPLAY is set and WAYLAND_DISPLAY is not.
    static Order sessionOrder();

    struct Options {
        std::filesystem::path uinputPath = "/dev/uinput";
        std::string display; // empty: $DISPLAY
        // Called once, on the posting thread, if the chosen backend is lost.
        std::function<void(const std::string& message)> onLoss;
        Order order = Order::uinputFirst;
        // Typing: XTest's pauses run through `defer` (on the posting
        // thread); characters no key could type are told to `untyped`.
        XTestPoster::Defer defer {};
        std::function<void(const std::string& characters)> untyped {};
        // The layout uinput types for; absent: KeyboardLayout::systemNames().
        std::optional<KeyboardLayout::Names> layout {};
    };

    static InputBackend choose(const Options& options);

    Kind kind() const { return m_kind; }
    // "uinput", "XTest" or "none", for the app to report.
    std::string_view name() const;
    // Why the backends tried before the chosen one were passed over, for
    // the permission help: "uinput: /dev/uinput is not writable; XTest:
    // ..."; empty when the first one was chosen.
    const std::string& reasons() const { return m_reasons; }

    std::shared_ptr<LinuxEventSink> sink() const { return m_sink; }

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
};

} // namespace ferlow
