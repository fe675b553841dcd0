// Where phones find this computer, against a fake Avahi on a private
// dbus-daemon and, for interface changes, in a network namespace of the
// test's own.

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "FerlowLinux/LocalHostWatcher.h"
#include "tests/Support/PrivateBus.h"

namespace ferlow {
namespace {

// Avahi's server object as the watcher sees it: GetState, GetHostNameFqdn
// and the StateChanged signal. It owns the service name only when told.
struct FakeAvahi {
    std::mutex mutex;
    std::int32_t state = 0;
    std::string name;
    test::BusService service;

    explicit FakeAvahi(const std::string& bus)
        : service(bus, "org.freedesktop.Avahi", [this](const test::BusService::Call& call) {
            std::lock_guard lock(mutex);
            return call.method == "GetState" ? g_variant_new("(i)", state) : g_variant_new("(s)", name.c_str());
        })
    {
    }

    void publish(std::int32_t newState, const std::string& newName)
    {
        {
            std::lock_guard lock(mutex);
            state = newState;
            name = newName;
        }
        service.emit("/", "org.freedesktop.Avahi.Server", "StateChanged", g_variant_new("(is)", newState, ""));
    }
};

constexpr std::int32_t registering = 1, running = 2;

// The last answer `changed` was given, on the watcher's own thread.
struct Answers {
    std::mutex mutex;
    LocalHost last;
    LocalHostWatcher watch(LocalHostWatcher::Options options)
    {
        return LocalHostWatcher([](LocalHostWatcher::Task task) { task(); },
            [this](const LocalHost& host) {
                std::lock_guard lock(mutex);
                last = host;
            },
            std::move(options));
    }
    bool cameTo(const LocalHost& host)
    {
        return test::eventually([&] {
            std::lock_guard lock(mutex);
            return last == host;
        });
    }
};

// The address's own sources, the same whatever the machine has.
LocalHostWatcher::Options fixedNetwork(const std::string& bus)
{
    LocalHostWatcher::Options options;
    options.busAddress = bus;
    options.firstAnswerLimit = test::patience; // the first answer is what is tested, however busy the machine
    options.interfaces = [] {
        return std::vector<InterfaceAddress> {
            {"docker0", *IPAddress::parse("172.17.0.1"), *IPAddress::parse("255.255.0.0")},
            {"wlp2s0", *IPAddress::parse("192.168.1.20"), *IPAddress::parse("255.255.255.0")},
        };
    };
    options.defaultRouteInterface = [] { return std::string("wlp2s0"); };
    return options;
}

const LocalHost address {"192.168.1.20", false};

// Avahi arriving, renaming, registering, publishing a name no URL carries, leaving.
TEST(LocalHostWatcher, FollowsTheNameAvahiPublishesAndTheAddressWithoutIt)
{
    test::PrivateBus bus;
    if (!bus.available())
        GTEST_SKIP() << bus.reason();
    FakeAvahi avahi(bus.address());
    Answers answers;
    const auto watcher = answers.watch(fixedNetwork(bus.address()));
    EXPECT_EQ(watcher.first(), address);

    avahi.publish(running, "desk.local");
    ASSERT_TRUE(avahi.service.own(true));
    EXPECT_TRUE(answers.cameTo({"desk.local", true}));
    EXPECT_EQ(Answers().watch(fixedNetwork(bus.address())).first(), (LocalHost {"desk.local", true}));
    avahi.publish(running, "desk-2.local");
    EXPECT_TRUE(answers.cameTo({"desk-2.local", true}));
    avahi.publish(registering, "desk-2.local");
    EXPECT_TRUE(answers.cameTo(address));
    avahi.publish(running, "Ana's desk.local");
    EXPECT_TRUE(answers.cameTo(address));
    avahi.publish(running, "desk-2.local");
    EXPECT_TRUE(answers.cameTo({"desk-2.local", true}));
    ASSERT_TRUE(avahi.service.own(false));
    EXPECT_TRUE(answers.cameTo(address));

    EXPECT_EQ(Answers().watch(fixedNetwork("unix:path=/nonexistent/bus")).first(), address);
}

TEST(LocalHostWatcher, DefaultRouteIsTheLowestMetricRouteThatIsUp)
{
    const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    const std::string wired = "eth0\t00000000\t010200C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n";
    const std::string wireless = "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    const std::string subnet = "eth1\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
    const std::string down = "eth2\t00000000\t010200C0\t0002\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_EQ(LocalHostWatcher::defaultRouteInterface(header + subnet + down + wired + wireless), "wlan0");
    EXPECT_EQ(LocalHostWatcher::defaultRouteInterface(header + subnet + "garbage\n" + down), "");
}

// Run by the next test inside a user and network namespace of its own, where
// bringing up loopback is allowed and only the route socket can tell of it.
std::atomic<bool> moved {false};

TEST(LocalHostWatcherInNamespace, DISABLED_LooksAgainWhenALinkComesUp)
{
    auto options = fixedNetwork("unix:path=/nonexistent/bus");
    options.interfaces = [] {
        return std::vector<InterfaceAddress> {{moved ? "wlp2s0" : "enp3s0",
            *IPAddress::parse(moved ? "192.168.1.20" : "10.0.0.7"), *IPAddress::parse("255.255.255.0")}};
    };
    Answers answers;
    const auto watcher = answers.watch(options);
    ASSERT_EQ(watcher.first(), (LocalHost {"10.0.0.7", false}));
    moved = true;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq loopback {};
    std::strncpy(loopback.ifr_name, "lo", IFNAMSIZ - 1);
    loopback.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
    ASSERT_EQ(::ioctl(fd, SIOCSIFFLAGS, &loopback), 0) << std::strerror(errno);
    ::close(fd);
    EXPECT_TRUE(answers.cameTo(address));
}

TEST(LocalHostWatcher, LooksAgainWhenTheNetworkChanges)
{
    test::TemporaryDirectory folder;
    const auto output = (folder.path() / "output").string();
    const auto suite = std::filesystem::read_symlink("/proc/self/exe").string();
    test::ServerProcess child({"bash", "-c",
        "if ! unshare -rn true 2>/dev/null; then echo none >&{fd}; exit; fi; unshare -rn " + suite
            + " --gtest_also_run_disabled_tests --gtest_filter=LocalHostWatcherInNamespace.* >" + output
            + " 2>&1; echo $? >&{fd}"},
        120);
    if (child.line() == "none")
        GTEST_SKIP() << "this system gives no user and network namespace of one's own";
    EXPECT_EQ(child.line(), "0") << child.reason() << test::readFile(output);
}

} // namespace
} // namespace ferlow
