#include "FerlowLinux/X11Displays.h"

#include <algorithm>
#include <utility>
#include <vector>

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace ferlow {

namespace {

double number(int value)
{
    return static_cast<double>(value);
}

} // namespace

X11Displays::X11Displays(const std::string& display) : m_connection(display)
{
    if (m_connection.usable()) {
        Display* x = m_connection.display();
        int eventBase = 0, errorBase = 0, major = 0, minor = 0;
        m_hasMonitors = XRRQueryExtension(x, &eventBase, &errorBase) && XRRQueryVersion(x, &major, &minor)
            && (major > 1 || (major == 1 && minor >= 5));
    }
    readMonitors();
}

Point X11Displays::cursor()
{
    if (!m_connection.usable())
        return {};
    Display* display = m_connection.display();
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
    unsigned int mask = 0;
    const bool read = XQueryPointer(display, XDefaultRootWindow(display), &root, &child, &rootX, &rootY,
                          &windowX, &windowY, &mask)
        != False;
    readMonitors();
    // False also means the pointer is on another screen of a multi-screen
    // server, where these coordinates would belong to a different root.
    if (!read || m_connection.lost())
        return {};
    return {number(rootX), number(rootY)};
}

void X11Displays::readMonitors()
{
    m_layout.rects.clear();
    if (!m_connection.usable())
        return;
    Display* display = m_connection.display();
    const Window root = XDefaultRootWindow(display);
    if (m_hasMonitors) {
        int count = 0;
        XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
        std::vector<std::pair<bool, Rect>> found;
        for (int i = 0; i < count; ++i) {
            const XRRMonitorInfo& m = monitors[i];
            // An empty monitor would pull the clamp outside itself.
            if (m.width > 0 && m.height > 0)
                found.push_back({m.primary != False, {{number(m.x), number(m.y)}, {number(m.width), number(m.height)}}});
        }
        if (monitors)
            XRRFreeMonitors(monitors);
        // The primary monitor plays the main display: first, so it wins the
        // clamp's ties.
        std::stable_partition(found.begin(), found.end(), [](const auto& f) { return f.first; });
        for (const auto& f : found) {
            if (m_layout.rects.size() == maxDisplays)
                break;
            m_layout.rects.push_back(f.second);
        }
    }
    if (m_layout.rects.empty() && !m_connection.lost()) {
        const int screen = XDefaultScreen(display);
        m_layout.rects.push_back(
            {{0, 0}, {number(XDisplayWidth(display, screen)), number(XDisplayHeight(display, screen))}});
    }
    if (m_connection.lost())
        m_layout.rects.clear();
}

} // namespace ferlow
