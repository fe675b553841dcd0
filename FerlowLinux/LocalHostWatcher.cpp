#include "FerlowLinux/LocalHostWatcher.h"

#include <atomic>
#include <cerrno>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <utility>

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gio/gio.h>
#include <glib-unix.h>

#include "FerlowCore/Pairing.h"

namespace ferlow {

namespace {

constexpr const char* avahiService = "org.freedesktop.Avahi";
constexpr const char* avahiServer = "org.freedesktop.Avahi.Server";
constexpr gint32 avahiRunning = 2; // AVAHI_SERVER_RUNNING: the host name is registered
constexpr int callTimeout = 1000;  // ms; Avahi answers at once unless it hangs
constexpr int netlinkReadsPerWake = 64;

LocalHost byAddress(const LocalHostWatcher::Options& options)
{
    if (const auto address = LocalNetworkPolicy::reachableAddress(options.interfaces(), options.defaultRouteInterface()))
        return {address->description(), false};
    // No local network at all: nothing better to offer than the name.
    return {LocalNetworkPolicy::localHostName() + ".local", false};
}

// A connection of our own, not GLib's shared one, whose loss would end the
// process.
GDBusConnection* connect(const std::string& busAddress, GCancellable* stop)
{
    g_autofree gchar* system = nullptr;
    if (busAddress.empty()) {
        system = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, stop, nullptr);
        if (!system)
            return nullptr;
    }
    return g_dbus_connection_new_for_address_sync(system ? system : busAddress.c_str(),
        static_cast<GDBusConnectionFlags>(
            G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, stop, nullptr);
}

// Told of every change of links, IPv4 addresses and IPv4 routes.
int openRouteSocket()
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (fd < 0)
        return -1;
    sockaddr_nl address {};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV4_ROUTE;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

// What the thread shares with the watcher, so that a thread left behind by a
// stalled bus can finish on its own after the watcher is gone.
struct LocalHostWatcher::State {
    State(Post p, Changed c, Options o)
        : post(std::move(p)), changed(std::move(c)), options(std::move(o)), stop(g_cancellable_new())
        , context(g_main_context_new()), loop(g_main_loop_new(context, FALSE))
    {
    }
    ~State()
    {
        g_main_loop_unref(loop);
        g_main_context_unref(context);
        g_object_unref(stop);
    }

    Post post;
    Changed changed;
    Options options;
    GCancellable* stop; // cancelled once: ends a call in progress
    GMainContext* context; // the thread's
    GMainLoop* loop;
    std::atomic<bool> stopped {false};
    std::promise<LocalHost> first;
};

// The thread's side: the bus, the route socket, the last answer. Lives and
// dies on the thread, inside its main context.
class LocalHostWatcher::Watch final {
public:
    explicit Watch(std::shared_ptr<State> state) : m_state(std::move(state))
    {
        m_bus = connect(m_state->options.busAddress, m_state->stop);
        if (m_bus) {
            m_closedHandler = g_signal_connect(m_bus, "closed", G_CALLBACK(&closed), this);
            // Signals say only when to ask again; what they carry is not trusted.
            m_ownerSubscription = g_dbus_connection_signal_subscribe(m_bus, "org.freedesktop.DBus",
                "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus", avahiService,
                G_DBUS_SIGNAL_FLAGS_NONE, &signalled, this, nullptr);
            m_stateSubscription = g_dbus_connection_signal_subscribe(m_bus, avahiService, nullptr, "StateChanged", "/",
                nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &signalled, this, nullptr);
        }

        m_routes = openRouteSocket();
        if (m_routes >= 0) {
            m_routeSource = g_unix_fd_source_new(m_routes, G_IO_IN);
            // GLib calls it as the GUnixFDSourceFunc it is.
            g_source_set_callback(m_routeSource,
                reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(&routesChanged)), this, nullptr);
            g_source_attach(m_routeSource, m_state->context);
        }
    }

    ~Watch()
    {
        if (m_routeSource) {
            g_source_destroy(m_routeSource);
            g_source_unref(m_routeSource);
        }
        if (m_routes >= 0)
            ::close(m_routes);
        if (m_bus) {
            g_dbus_connection_signal_unsubscribe(m_bus, m_ownerSubscription);
            g_dbus_connection_signal_unsubscribe(m_bus, m_stateSubscription);
            g_signal_handler_disconnect(m_bus, m_closedHandler);
            g_dbus_connection_close_sync(m_bus, nullptr, nullptr);
            g_object_unref(m_bus);
        }
    }

    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    void run()
    {
        askAvahi();
        // A stop asked for from now on waits in the context as a task.
        if (!g_cancellable_is_cancelled(m_state->stop))
            g_main_loop_run(m_state->loop);
    }

private:
    static void signalled(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer self)
    {
        static_cast<Watch*>(self)->askAvahi();
    }

    static void closed(GDBusConnection*, gboolean, GError*, gpointer self)
    {
        auto* watch = static_cast<Watch*>(self);
        watch->m_busOpen = false;
        watch->m_published.reset();
        watch->answer();
    }

    static gboolean routesChanged(gint fd, GIOCondition condition, gpointer self)
    {
        auto* watch = static_cast<Watch*>(self);
        if (condition & (G_IO_ERR | G_IO_HUP | G_IO_NVAL)) {
            g_source_unref(std::exchange(watch->m_routeSource, nullptr));
            return G_SOURCE_REMOVE;
        }
        // What changed does not matter, only that something did: the
        // messages are drained unread (a lost one, ENOBUFS, is no loss).
        char message[8192];
        for (int i = 0; i < netlinkReadsPerWake; ++i)
            if (::recv(fd, message, sizeof message, MSG_DONTWAIT) < 0 && errno != EINTR && errno != ENOBUFS)
                break;
        watch->answer();
        return G_SOURCE_CONTINUE;
    }

    // Calls one of Avahi's server methods; null when it cannot answer. A
    // stopped Avahi is never started by the call.
    GVariant* call(const char* method, const char* replyType)
    {
        return g_dbus_connection_call_sync(m_bus, avahiService, "/", avahiServer, method, nullptr,
            G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START, callTimeout, m_state->stop, nullptr);
    }

    void askAvahi()
    {
        m_published.reset();
        if (m_bus && m_busOpen) {
            gint32 state = 0;
            if (g_autoptr(GVariant) reply = call("GetState", "(i)"))
                g_variant_get(reply, "(i)", &state);
            if (state == avahiRunning) {
                if (g_autoptr(GVariant) reply = call("GetHostNameFqdn", "(s)")) {
                    const gchar* name = nullptr;
                    g_variant_get(reply, "(&s)", &name);
                    // A name that cannot go into a URL is no use to a phone.
                    if (name && isURLHost(name))
                        m_published = name;
                }
            }
        }
        answer();
    }

    void answer()
    {
        LocalHost host = m_published ? LocalHost {*m_published, true} : byAddress(m_state->options);
        if (!m_answered) {
            m_answered = true;
            m_state->first.set_value(host);
        }
        if (host == m_last || m_state->stopped)
            return;
        m_last = host;
        m_state->post([state = m_state, host = std::move(host)] {
            if (!state->stopped)
                state->changed(host);
        });
    }

    std::shared_ptr<State> m_state;
    GDBusConnection* m_bus = nullptr;
    bool m_busOpen = true;
    gulong m_closedHandler = 0;
    guint m_ownerSubscription = 0;
    guint m_stateSubscription = 0;
    int m_routes = -1;
    GSource* m_routeSource = nullptr;

    std::optional<std::string> m_published; // Avahi's name while it publishes one
    bool m_answered = false;
    std::optional<LocalHost> m_last;
};

LocalHostWatcher::LocalHostWatcher(Post post, Changed changed, Options options)
    : m_state(std::make_shared<State>(std::move(post), std::move(changed), std::move(options)))
{
    auto first = m_state->first.get_future();
    std::promise<void> finished;
    m_finished = finished.get_future();
    m_thread = std::thread([state = m_state, finished = std::move(finished)]() mutable {
        watch(state);
        finished.set_value();
    });
    m_first = first.wait_for(m_state->options.firstAnswerLimit) == std::future_status::ready
        ? first.get()
        : byAddress(m_state->options);
}

LocalHostWatcher::~LocalHostWatcher()
{
    m_state->stopped = true;
    g_cancellable_cancel(m_state->stop);
    // The loop ends by a task in the thread's own context, not by a source
    // on the cancellable: such a source would be freed on the thread while
    // the cancel above, on this one, may still be signalling it.
    g_main_context_invoke(m_state->context, [](gpointer loop) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return gboolean(G_SOURCE_REMOVE);
    }, m_state->loop);
    if (m_finished.wait_for(stopLimit) == std::future_status::ready)
        m_thread.join();
    else
        m_thread.detach(); // it owns what it uses and ends with the bus's next answer
}

void LocalHostWatcher::watch(const std::shared_ptr<State>& state)
{
    // The bus delivers its signals to the context that is the thread's
    // default when they are subscribed.
    g_main_context_push_thread_default(state->context);
    {
        Watch watch(state);
        watch.run();
    }
    g_main_context_pop_thread_default(state->context);
}

std::string LocalHostWatcher::defaultRouteInterface(std::string_view routeTable)
{
    // Columns: Iface Destination Gateway Flags RefCnt Use Metric Mask ...,
    // addresses and flags in hexadecimal; the first line names them.
    std::istringstream lines {std::string(routeTable)};
    std::string line, best;
    unsigned long bestMetric = std::numeric_limits<unsigned long>::max();
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, mask;
        unsigned long flags = 0, references = 0, use = 0, metric = 0;
        if (!(fields >> name >> destination >> gateway >> std::hex >> flags >> std::dec >> references >> use >> metric
                >> mask))
            continue;
        constexpr unsigned long up = 0x1; // RTF_UP
        if (destination == "00000000" && mask == "00000000" && (flags & up) && metric < bestMetric) {
            best = name;
            bestMetric = metric;
        }
    }
    return best;
}

std::string LocalHostWatcher::readDefaultRouteInterface()
{
    std::ifstream file("/proc/net/route");
    return defaultRouteInterface(std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()));
}

} // namespace ferlow
