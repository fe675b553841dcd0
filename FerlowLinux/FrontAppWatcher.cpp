#include "FerlowLinux/FrontAppWatcher.h"

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "FerlowLinux/XConnection.h"

namespace ferlow {

// Everything the thread touches, shared so that a thread left behind by a
// stalled server can finish on its own after the watcher is gone.
struct FrontAppWatcher::State {
    State(Post p, Changed c, const std::string& display)
        : post(std::move(p)), changed(std::move(c)), connection(display), wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
    }
    ~State()
    {
        if (wake >= 0)
            ::close(wake);
    }

    Post post;
    Changed changed;
    XConnection connection;
    int wake; // written once to stop the thread
    std::atomic<bool> stopped{false};
};

namespace {

// The window _NET_ACTIVE_WINDOW names, or none (0).
Window activeWindow(Display* display, Window root, Atom property)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    Window window = 0;
    if (XGetWindowProperty(display, root, property, 0, 1, False, XA_WINDOW, &type, &format, &count, &after, &data)
        == Success) {
        // Xlib hands 32-bit items back as longs.
        if (data && type == XA_WINDOW && format == 32 && count == 1)
            std::memcpy(&window, data, sizeof window);
    }
    if (data)
        XFree(data);
    return window;
}

std::optional<FrontApp> frontApp(Display* display, Window root, Atom property)
{
    const Window window = activeWindow(display, root, property);
    if (window == 0)
        return std::nullopt;
    // The window may be gone already: the call then fails (its error is
    // ignored) and there is nothing to report.
    XClassHint hint {};
    if (XGetClassHint(display, window, &hint) == 0)
        return std::nullopt;
    const std::string instance = hint.res_name ? hint.res_name : "";
    const std::string windowClass = hint.res_class ? hint.res_class : "";
    if (hint.res_name)
        XFree(hint.res_name);
    if (hint.res_class)
        XFree(hint.res_class);
    return FrontApp::fromWindowClass(instance, windowClass);
}
} // namespace

FrontAppWatcher::FrontAppWatcher(Post post, Changed changed, const std::string& display)
    : m_state(std::make_shared<State>(std::move(post), std::move(changed), display))
{
    m_connected = m_state->connection.usable() && m_state->wake >= 0;
    if (!m_connected)
        return;
    std::promise<void> finished;
    m_finished = finished.get_future();
    m_thread = std::thread([state = m_state, finished = std::move(finished)]() mutable {
        watch(state);
        finished.set_value();
    });
}

FrontAppWatcher::~FrontAppWatcher()
{
    m_state->stopped = true;
    if (!m_thread.joinable())
        return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_state->wake, &one, sizeof one);
    if (m_finished.wait_for(stopLimit) == std::future_status::ready)
        m_thread.join();
    else
        m_thread.detach(); // it owns what it uses and ends with the server's next answer
}

void FrontAppWatcher::watch(const std::shared_ptr<State>& state)
{
    XConnection& connection = state->connection;
    Display* display = connection.display();
    const Window root = XDefaultRootWindow(display);
    const Atom property = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    XSelectInput(display, root, PropertyChangeMask);

    std::optional<FrontApp> last;
    const auto deliver = [&] {
        auto app = frontApp(display, root, property);
        if (!app || app == last || state->stopped)
            return;
        last = app;
        state->post([state, app = std::move(*app)] {
            if (!state->stopped)
                state->changed(app);
        });
    };

    deliver();
    pollfd waits[] = {{XConnectionNumber(display), POLLIN, 0}, {state->wake, POLLIN, 0}};
    for (;;) {
        bool activeChanged = false;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            activeChanged |= event.type == PropertyNotify && event.xproperty.atom == property;
        }
        if (connection.lost() || state->stopped)
            return;
        if (activeChanged) {
            // Its requests may have queued further events: look again
            // before waiting on the socket.
            deliver();
            continue;
        }

        waits[0].revents = waits[1].revents = 0;
        if (::poll(waits, 2, -1) < 0 && errno != EINTR)
            return;
        // A hung-up server is treated as gone even before Xlib notices.
        if (waits[1].revents != 0 || (waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0)
            return;
    }
}

} // namespace ferlow
