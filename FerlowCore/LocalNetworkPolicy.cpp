#include "FerlowCore/LocalNetworkPolicy.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

namespace ferlow {

namespace {

bool startsWith(const std::string& text, std::string_view prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool sameSubnet(const IPAddress& peer, const InterfaceAddress& interface)
{
    const auto p = peer.bytes();
    const auto a = interface.address.bytes();
    const auto m = interface.netmask.bytes();
    for (std::size_t i = 0; i < p.size(); ++i)
        if ((p[i] & m[i]) != (a[i] & m[i]))
            return false;
    return true;
}

// Docker names each user-defined network's bridge "br-" and the first 12 hex
// digits of the network's id; its containers are not the local network.
bool isDockerBridge(const std::string& name)
{
    constexpr std::string_view prefix = "br-";
    return name.size() == prefix.size() + 12 && startsWith(name, prefix)
        && std::all_of(name.begin() + prefix.size(), name.end(),
            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

} // namespace

bool LocalNetworkPolicy::isLocalNetworkInterface(const std::string& name)
{
    if (isDockerBridge(name))
        return false;
    for (const std::string_view prefix : {"en", "eth", "wl", "br", "bond", "team"})
        if (startsWith(name, prefix))
            return true;
    return false;
}

bool LocalNetworkPolicy::allows(
    const IPAddress& remote, const std::vector<InterfaceAddress>& interfaces, const std::string& arrivedOn)
{
    const auto bytes = remote.bytes();
    if (remote.kind() == IPAddress::Kind::v4) {
        if (bytes[0] == 127)
            return true;
    } else {
        static constexpr std::array<std::uint8_t, 16> loopback {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        static constexpr std::array<std::uint8_t, 2> linkLocal {0xFE, 0x80};
        if (std::equal(bytes.begin(), bytes.end(), loopback.begin()))
            return true;
        if (remote.hasPrefix(linkLocal, 10))
            return isLocalNetworkInterface(arrivedOn);
    }
    for (const auto& interface : interfaces) {
        if (!isLocalNetworkInterface(interface.name))
            continue;
        if (interface.address.kind() != remote.kind() || interface.netmask.kind() != remote.kind())
            continue;
        if (sameSubnet(remote, interface))
            return true;
    }
    return false;
}

bool LocalNetworkPolicy::admits(const IPAddress& remote, std::uint32_t scope)
{
    char name[IF_NAMESIZE] = {};
    const bool named = scope != 0 && ::if_indextoname(scope, name) != nullptr;
    return allows(remote, currentInterfaces(), named ? std::string(name) : std::string());
}

std::vector<InterfaceAddress> LocalNetworkPolicy::currentInterfaces()
{
    std::vector<InterfaceAddress> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_netmask || !entry->ifa_name)
            continue;
        const int family = entry->ifa_addr->sa_family;
        if (family == AF_INET) {
            std::array<std::uint8_t, 4> address {}, mask {};
            std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, 4);
            std::memcpy(mask.data(), &reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask)->sin_addr, 4);
            result.push_back({entry->ifa_name, IPAddress::v4(address), IPAddress::v4(mask)});
        } else if (family == AF_INET6) {
            std::array<std::uint8_t, 16> address {}, mask {};
            std::memcpy(address.data(), &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr, 16);
            std::memcpy(mask.data(), &reinterpret_cast<const sockaddr_in6*>(entry->ifa_netmask)->sin6_addr, 16);
            result.push_back({entry->ifa_name, IPAddress::v6(address), IPAddress::v6(mask)});
        }
    }
    ::freeifaddrs(list);
    return result;
}

std::optional<IPAddress> LocalNetworkPolicy::reachableAddress(
    const std::vector<InterfaceAddress>& interfaces, std::string_view defaultRouteInterface)
{
    std::optional<IPAddress> first;
    for (const auto& interface : interfaces) {
        const auto bytes = interface.address.bytes();
        if (interface.address.kind() != IPAddress::Kind::v4 || !isLocalNetworkInterface(interface.name)
            || (bytes[0] == 169 && bytes[1] == 254))
            continue;
        if (interface.name == defaultRouteInterface)
            return interface.address;
        if (!first)
            first = interface.address;
    }
    return first;
}

std::string LocalNetworkPolicy::localHostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return "localhost";
    std::string host(name);
    host = host.substr(0, host.find('.'));
    return host.empty() ? "localhost" : host;
}

} // namespace ferlow
