#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "FerlowCore/LocalNetworkPolicy.h"

namespace ferlow {

// Follows where phones find this computer. That is the name the Avahi mDNS
// responder really publishes (org.freedesktop.Avahi.Server on the system
// bus), which after a name conflict is not the host name ("desk-2.local");
// while Avahi is not running or not publishing, it is the IPv4 address of
// the local network interface that holds the default route.
//
// It works on its own thread with its own GLib main context: Avahi's
// StateChanged signal, the bus's NameOwnerChanged for Avahi and a netlink
// route socket (links, IPv4 addresses and routes) say when to look again;
// nothing is polled. Each answer that differs from the one before, the first
// included, is handed to `changed` through `post`, so `changed` runs where
// `post` runs its tasks (the main context).
class LocalHostWatcher final {
public:
    using Task = std::function<void()>;
    using Post = std::function<void(Task)>;
    using Changed = std::function<void(const LocalHost&)>;

    struct Options {
        std::string busAddress; // a D-Bus address; empty: the system bus
        // How long the constructor waits for Avahi's first answer before it
        // settles for the address; a late answer still reaches `changed`.
        std::chrono::milliseconds firstAnswerLimit {250};
        // Where the address comes from; called on the watcher's thread, and
        // on the constructor's when the first answer is late.
        std::function<std::vector<InterfaceAddress>()> interfaces = LocalNetworkPolicy::currentInterfaces;
        std::function<std::string()> defaultRouteInterface = readDefaultRouteInterface;
    };

    // The longest the destructor waits for the thread, which only takes long
    // when the bus stops answering in the middle of a call.
    static constexpr std::chrono::seconds stopLimit {2};

    LocalHostWatcher(Post post, Changed changed, Options options);
    LocalHostWatcher(Post post, Changed changed) : LocalHostWatcher(std::move(post), std::move(changed), Options {}) { }
    // No `changed` call starts after this returns (tasks already posted
    // then do nothing).
    ~LocalHostWatcher();

    LocalHostWatcher(const LocalHostWatcher&) = delete;
    LocalHostWatcher& operator=(const LocalHostWatcher&) = delete;

    // The answer at construction.
    const LocalHost& first() const { return m_first; }

    // The interface of the lowest-metric IPv4 default route in the kernel's
    // table as /proc/net/route shows it; empty when there is none.
    static std::string defaultRouteInterface(std::string_view routeTable);
    static std::string readDefaultRouteInterface();

private:
    struct State;
    class Watch;
    static void watch(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
    std::thread m_thread;
    std::future<void> m_finished;
    LocalHost m_first;
};

} // namespace ferlow
