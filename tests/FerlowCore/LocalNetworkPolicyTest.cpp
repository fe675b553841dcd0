#include "FerlowCore/LocalNetworkPolicy.h"

#include <gtest/gtest.h>
#include <tuple>

namespace ferlow {
namespace {

IPAddress ip(const char* text)
{
    const auto address = IPAddress::parse(text);
    if (!address)
        throw std::invalid_argument(text);
    return *address;
}

InterfaceAddress interface(const char* name, const char* address, const char* mask)
{
    return {name, ip(address), ip(mask)};
}

TEST(IPAddress, TextMappedAddressesAndPrefixes)
{
    EXPECT_EQ(ip("::ffff:192.168.1.77"), IPAddress::v4({192, 168, 1, 77}));
    EXPECT_EQ(ip("fe80::1%en0"), IPAddress::v6({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
    for (const char* bad : {"localhost", "", "%", "1.2.3", "256.1.1.1", "::g", " 1.2.3.4"})
        EXPECT_EQ(IPAddress::parse(bad), std::nullopt) << bad;
    EXPECT_EQ(ip("2001:db8:0:0:0:0:0:1").description(), "2001:db8::1");
    // Mapped conversion only for the exact ::ffff:0:0/96 prefix.
    std::array<std::uint8_t, 16> bytes {};
    bytes[10] = bytes[11] = 0xff;
    EXPECT_EQ(IPAddress::fromV6(bytes).kind(), IPAddress::Kind::v4);
    bytes[0] = 1;
    EXPECT_EQ(IPAddress::fromV6(bytes).kind(), IPAddress::Kind::v6);

    const std::array<std::uint8_t, 2> fe80 {0xfe, 0x80};
    EXPECT_TRUE(ip("febf:ffff::").hasPrefix(fe80, 10));
    EXPECT_FALSE(ip("fec0::1").hasPrefix(fe80, 10));
}

TEST(LocalNetworkPolicy, AdmitsLoopbackAndLocalSubnetsOnly)
{
    const std::vector<InterfaceAddress> none;
    for (const char* allowed : {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.1"})
        EXPECT_TRUE(LocalNetworkPolicy::allows(ip(allowed), none)) << allowed;
    for (const char* refused : {"fec0::1", "192.168.1.77", "8.8.8.8", "::2", "169.253.1.1", "169.254.7.7", "fe80::1"})
        EXPECT_FALSE(LocalNetworkPolicy::allows(ip(refused), none)) << refused;

    const struct {
        const char* name;
        bool admits;
    } names[] = {
        {"en0", true}, {"enp3s0", true}, {"eth0", true}, {"wlan0", true}, {"wlp2s0", true}, {"bridge100", true},
        {"br0", true}, {"br-lan", true}, {"bond0", true}, {"team0", true},
        {"lo", false}, {"lo0", false}, {"utun3", false}, {"tun0", false}, {"docker0", false}, {"virbr0", false},
        {"wg0", false}, {"tailscale0", false}, {"br-3f2a9c1d0e4b", false}, // Docker's own bridges
    };
    for (const auto& n : names) {
        const std::vector<InterfaceAddress> interfaces {interface(n.name, "192.168.1.20", "255.255.255.0")};
        EXPECT_EQ(LocalNetworkPolicy::allows(ip("192.168.1.77"), interfaces), n.admits) << n.name;
        EXPECT_FALSE(LocalNetworkPolicy::allows(ip("192.168.2.77"), interfaces)) << n.name;
    }

    const std::vector<InterfaceAddress> mixed {
        interface("wlan0", "2001:db8:1::5", "ffff:ffff:ffff:ffff::"),
        interface("bridge100", "192.168.2.1", "255.255.255.0"),
    };
    EXPECT_TRUE(LocalNetworkPolicy::allows(ip("192.168.2.5"), mixed));
    EXPECT_TRUE(LocalNetworkPolicy::allows(ip("2001:db8:1::99"), mixed));
    EXPECT_FALSE(LocalNetworkPolicy::allows(ip("2001:db8:2::99"), mixed));
    // Families never cross: an IPv4 peer against an IPv6 interface and back.
    const std::vector<InterfaceAddress> everything {interface("eth0", "::", "::")};
    EXPECT_FALSE(LocalNetworkPolicy::allows(ip("10.1.1.1"), everything));
    EXPECT_TRUE(LocalNetworkPolicy::allows(ip("2001:db8::7"), everything));
}

// A VPN or a container bridge may hold the default route or come first;
// the address offered to phones is still the one on the local network.
TEST(LocalNetworkPolicy, ReachableAddressPrefersTheLocalInterfaceOfTheDefaultRoute)
{
    const auto wifi = interface("wlp2s0", "192.168.1.20", "255.255.255.0");
    const auto wired = interface("enp3s0", "10.0.0.7", "255.0.0.0");
    const auto docker = interface("docker0", "172.17.0.1", "255.255.0.0");
    const auto linkLocal = interface("eth0", "169.254.3.4", "255.255.0.0");
    const auto reachable = [](std::vector<InterfaceAddress> interfaces, const char* route) {
        return LocalNetworkPolicy::reachableAddress(interfaces, route);
    };
    EXPECT_EQ(reachable({wired, wifi}, "wlp2s0"), ip("192.168.1.20"));
    EXPECT_EQ(reachable({docker, wired, wifi}, "tun0"), ip("10.0.0.7"));
    EXPECT_EQ(reachable({linkLocal, interface("eth0", "2001:db8::5", "ffff::"), docker}, "eth0"), std::nullopt);
}

// Every interface has a link-local address, containers' links included, so
// a link-local peer counts only on a link of the local network: an IPv6 one
// by the interface it came in through (its zone), an IPv4 one, which has no
// zone, by a 169.254 subnet that such an interface holds.
TEST(LocalNetworkPolicy, AdmitsLinkLocalPeersOnlyOnTheLocalNetworksLinks)
{
    std::vector<InterfaceAddress> interfaces {interface("docker0", "169.254.9.1", "255.255.0.0")};
    const std::tuple<const char*, const char*, bool> cases[] = {{"fe80::77", "eth0", true}, {"febf::1", "wlp2s0", true},
        {"fe80::77", "docker0", false}, {"fe80::77", "br-3f2a9c1d0e4b", false}, {"fe80::77", "", false},
        {"169.254.9.7", "eth0", false}};
    for (const auto& [peer, arrivedOn, allowed] : cases)
        EXPECT_EQ(LocalNetworkPolicy::allows(ip(peer), interfaces, arrivedOn), allowed) << peer << " on " << arrivedOn;
    interfaces.push_back(interface("enp3s0", "169.254.3.3", "255.255.0.0"));
    EXPECT_TRUE(LocalNetworkPolicy::allows(ip("169.254.9.7"), interfaces));
}

// The host name is the process tests': "<name>.local" in the pairing URL.
TEST(LocalNetworkPolicy, ReadsThisMachinesInterfaces)
{
    const auto interfaces = LocalNetworkPolicy::currentInterfaces();
    const auto loopback = std::find_if(interfaces.begin(), interfaces.end(),
        [](const InterfaceAddress& i) { return i.address == IPAddress::v4({127, 0, 0, 1}); });
    ASSERT_NE(loopback, interfaces.end());
    EXPECT_EQ(loopback->netmask.kind(), IPAddress::Kind::v4);
}

} // namespace
} // namespace ferlow
