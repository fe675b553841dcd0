#pragma once

#include <string>

#include "FerlowInput/DisplayLayout.h"
#include "FerlowInput/Geometry.h"
#include "FerlowLinux/XConnection.h"

namespace ferlow {

// The translator's view of the desktop on X11: the monitors as a
// DisplayLayout and the pointer's position, both in root-window pixels
// (one phone point moves the pointer one pixel).
//
// Owns its own X connection and must stay on one thread: the app builds it,
// reads the starting cursor, and from then on only the I/O thread calls it.
// Without an X server (a Wayland session without Xwayland, or none at all)
// there are no displays, so the clamp passes every point through, and the
// cursor reads as the origin.
class X11Displays final {
public:
    // At most this many monitors are listed.
    static constexpr std::size_t maxDisplays = 16;

    // `display` as for XConnection: empty means $DISPLAY.
    explicit X11Displays(const std::string& display = {});

    // The monitors as last read: RandR 1.5 monitors, primary first, or the
    // whole screen when RandR lists none. Makes no X request, so it is cheap
    // enough for every pointer move.
    DisplayLayout layout() const { return m_layout; }

    // The pointer's position (one round trip), or the origin when it cannot
    // be read. It also reads the monitor list again: the translator asks for
    // the cursor exactly when the pointer has been quiet for a moment, the
    // one time a round trip costs nothing noticeable, and RandR sends no
    // event when monitors are merely redefined.
    Point cursor();

    bool connected() const { return m_connection.usable(); }

private:
    void readMonitors();

    XConnection m_connection;
    bool m_hasMonitors = false; // RandR 1.5
    DisplayLayout m_layout;
};

} // namespace ferlow
