#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "FerlowLinux/LinuxEvent.h"

namespace ferlow {

// The way input reaches the desktop, chosen once at start: uinput when its
// device can be written (works on X11 and Wayland), else XTest when an X
// display with the XTEST extension opens, else none (posting drops
// everything).
class InputBackend final {
public:
    enum class Kind { uinput, xtest, none };

    struct Options {
        std::filesystem::path uinputPath = "/dev/uinput";
        std::string display; // empty: $DISPLAY
        // Called once, on the posting thread, if the chosen backend is lost.
        std::function<void(const std::string& message)> onLoss;
    };

    static InputBackend choose(const Options& options);

    Kind kind() const { return m_kind; }
    // "uinput", "XTest" or "none", for the app to report.
    std::string_view name() const;
    // Why the backends before the chosen one were passed over, for the
    // permission help: "uinput: /dev/uinput is not writable; XTest: ...";
    // empty when uinput was chosen.
    const std::string& reasons() const { return m_reasons; }

    std::shared_ptr<LinuxEventSink> sink() const { return m_sink; }

    // Whether the chosen backend can inject now. Cheap and callable from any
    // thread: it reads the state the posting thread last saw.
    bool canInject() const { return m_canInject(); }

private:
    InputBackend(Kind kind, std::shared_ptr<LinuxEventSink> sink, std::function<bool()> canInject, std::string reasons);

    Kind m_kind;
    std::shared_ptr<LinuxEventSink> m_sink;
    std::function<bool()> m_canInject;
    std::string m_reasons;
};

} // namespace ferlow
