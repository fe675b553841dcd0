#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "FerlowLinux/LinuxEvent.h"
#include "FerlowLinux/XConnection.h"

struct xcb_connection_t;

namespace ferlow {

// Posts Linux events to an X server through the XTEST extension, on its own
// connection. The pointer is placed at the event's absolute position; the
// wheel becomes clicks of buttons 4–7 with the remainder carried to the
// next event; keys go through their keysym and the server's keymap, so a key
// the keymap lacks is not sent. Each post ends with one flush, which writes
// and reads nothing else: what the server sent meanwhile (a keymap change)
// is taken in before the next keys.
//
// When the server goes away, posting becomes a no-op; `onLoss` is called
// once, on the posting thread, with a sentence to show. Used on one thread
// (the I/O thread) only, except connected().
class XTestPoster final : public LinuxEventSink {
public:
    using LossReport = std::function<void(const std::string& message)>;

    // Opens `displayName` (empty: $DISPLAY). Null when it cannot be opened or
    // lacks XTEST, with the reason in `why` when given.
    static std::unique_ptr<XTestPoster> open(const std::string& displayName, LossReport onLoss, std::string* why = nullptr);

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

    std::unique_ptr<XConnection> m_connection;
    _XDisplay* m_display;
    xcb_connection_t* m_xcb;        // the same connection, for requests that need no reply
    std::uint32_t m_root;
    LossReport m_onLoss;
    bool m_lossReported = false;
    std::array<std::uint8_t, 0x300> m_keycodes {}; // evdev code -> X keycode, 0 for none
    std::int32_t m_carryVertical = 0, m_carryHorizontal = 0;
};

} // namespace ferlow
