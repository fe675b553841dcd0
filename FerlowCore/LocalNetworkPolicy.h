#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FerlowCore/IPAddress.h"

namespace ferlow {

// One address of one network interface.
struct InterfaceAddress {
    std::string name; // "eth0", "wlp2s0", ...
    IPAddress address;
    IPAddress netmask; // same family as `address`
    bool operator==(const InterfaceAddress&) const = default;
};

// Where phones find this computer: the name the local mDNS responder
// publishes, or, while none does, an address.
struct LocalHost {
    std::string host;       // "desk.local", "desk-2.local" or "192.168.1.20"
    bool published = false; // false: phones cannot look the computer up by name
    bool operator==(const LocalHost&) const = default;
};

// Which network peers may talk to the server: loopback, and hosts that reach
// it through a wired, wireless or bridge interface: on the subnet of one of
// its addresses, or, for link-local addresses, on the link of one.
struct LocalNetworkPolicy {
    // `arrivedOn` names the interface an IPv6 link-local peer came in
    // through (the zone of its address); such a peer is allowed only when
    // that is a local-network interface, since every interface of the
    // machine, container bridges and virtual links included, has the same
    // fe80::/64 subnet. An IPv4 link-local peer (169.254/16) needs a local
    // network interface whose own 169.254 address has it on its subnet.
    static bool allows(
        const IPAddress& remote, const std::vector<InterfaceAddress>& interfaces, const std::string& arrivedOn = {});
    // allows() against the machine's interfaces now; `scope` is the
    // interface index of an IPv6 peer's zone, 0 for none.
    static bool admits(const IPAddress& remote, std::uint32_t scope);

    // Interface names that stand for the local network: wired ("en*",
    // "eth*"), wireless ("wl*"), bridges ("br*", "bridge*") and bonded or
    // teamed links ("bond*", "team*"), where a machine that hosts virtual
    // machines keeps its LAN address. Loopback, tunnels, VPNs and container
    // networks ("virbr*", "docker*", Docker's "br-" + 12 hex digits) never
    // admit a peer.
    static bool isLocalNetworkInterface(const std::string& name);

    // Every IPv4 and IPv6 address with a netmask, in the system's order;
    // empty when the system cannot list them.
    static std::vector<InterfaceAddress> currentInterfaces();

    // The IPv4 address a phone on the local network reaches this computer
    // at: that of the local network interface that holds the default route,
    // else of the first local network interface with one. Link-local
    // addresses are left out; absent when no address is left.
    static std::optional<IPAddress> reachableAddress(
        const std::vector<InterfaceAddress>& interfaces, std::string_view defaultRouteInterface);

    // The host name's first label, "localhost" when there is none.
    static std::string localHostName();
};

} // namespace ferlow
