#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FerlowLinux/LinuxEvent.h"
#include "FerlowLinux/XConnection.h"

struct xcb_connection_t;

namespace ferlow {

class XTestTyping;

// Posts Linux events to an X server through the XTEST extension, on its own
// connection. The pointer is placed at the event's absolute position; the
// wheel becomes clicks of buttons 4–7 with the remainder carried to the
// next event; keys go through their keysym and the server's keymap, so a key
// the keymap lacks is not sent. Text is typed character by character
// (XTestTyping); characters the keymap lacks go on spare keys, which are
// emptied again once typing has paused for `typingPause`, and by the
// destructor at the latest. While the spare keys are all taken, the rest of
// the text, and everything posted after it, waits for that pause, so events
// keep their order. Each post ends with one flush, which writes and reads
// nothing else: what the server sent meanwhile (a keymap change) is taken in
// before the next keys.
//
// When the server goes away, posting becomes a no-op; `onLoss` is called
// once, on the posting thread, with a sentence to show. Used on one thread
// (the I/O thread) only, except connected().
class XTestPoster final : public LinuxEventSink, public std::enable_shared_from_this<XTestPoster> {
public:
    using LossReport = std::function<void(const std::string& message)>;
    // Runs `task` on the posting thread once `delay` has passed.
    using Defer = std::function<void(std::chrono::milliseconds delay, std::function<void()> task)>;
    // Told, on the posting thread, the characters of a text no key could type.
    using UntypedReport = std::function<void(const std::string& characters)>;

    // Long enough for every client to have looked up the keys typed before
    // it, so that a spare key can be emptied or given another character.
    static constexpr std::chrono::milliseconds typingPause {50};
    // Characters of text that may wait for spare keys at once; more are
    // skipped and told as untyped.
    static constexpr std::size_t maxWaitingCharacters = 2048;

    // Opens `displayName` (empty: $DISPLAY). Null when it cannot be opened or
    // lacks XTEST, with the reason in `why` when given.
    static std::shared_ptr<XTestPoster> open(const std::string& displayName, LossReport onLoss, std::string* why = nullptr);

    // Lets the poster type characters the keymap lacks, timing its pauses
    // through `defer`, and tells `untyped` what it could not type. Without
    // it, characters the keymap lacks are skipped.
    void setTyping(Defer defer, UntypedReport untyped);

    ~XTestPoster() noexcept override;
    XTestPoster(const XTestPoster&) = delete;
    XTestPoster& operator=(const XTestPoster&) = delete;

    void post(std::span<const LinuxEvent> events) override;

    // Whether the connection still stands, as last seen by post(). Any
    // thread; no round trip.
    bool connected() const { return !m_connection->lost(); }

private:
    XTestPoster(std::unique_ptr<XConnection> connection, LossReport onLoss);

    void loadKeymap();
    void fake(std::uint8_t type, std::uint8_t detail, std::int16_t x = 0, std::int16_t y = 0);
    void turnWheel(std::int32_t units, std::int32_t& carry, unsigned positiveButton, unsigned negativeButton);
    void readEvents();
    void reportLoss();
    bool typeText(const std::string& utf8, std::span<const LinuxEvent> after);
    bool holdBehindTyping(std::span<const LinuxEvent> events);
    void hold(const LinuxEvent& event);
    void resumeTyping();
    void restoreKeymapWhenIdle();

    std::unique_ptr<XConnection> m_connection;
    _XDisplay* m_display;
    xcb_connection_t* m_xcb;        // the same connection, for requests that need no reply
    std::uint32_t m_root;
    LossReport m_onLoss;
    bool m_lossReported = false;
    std::array<std::uint8_t, 0x300> m_keycodes {}; // evdev code -> X keycode, 0 for none
    std::int32_t m_carryVertical = 0, m_carryHorizontal = 0;
    std::unique_ptr<XTestTyping> m_typing;
    Defer m_defer;
    UntypedReport m_untyped;
    std::vector<LinuxEvent> m_waiting; // text that waits for the spare keys, and what came after it
    std::size_t m_waitingCharacters = 0;
    std::uint64_t m_typed = 0;         // counts typing that needed spare keys
    bool m_closing = false;
};

} // namespace ferlow
