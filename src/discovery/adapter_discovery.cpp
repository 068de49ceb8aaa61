#include "discovery/adapter_discovery.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "discovery/address_text.h"

namespace quillon {

namespace {

// Descriptions of virtual switches, hypervisors, containers, tunnels and VPNs. Checked in this
// order; the first hit skips the adapter.
constexpr std::string_view kExcludedDescriptionParts[] = {
    "virtual", "hyper-v", "vpn",      "tap-",   "vmware",    "virtualbox", "vmnet",  "vethernet",
    "docker",  "wsl",     "loopback", "pseudo", "tunneling", "6to4",       "isatap", "teredo",
};

// Friendly names that give away a virtual adapter whose description looks physical.
constexpr std::string_view kExcludedNameParts[] = {
    "virtual",
    "vethernet",
    "docker",
    "wsl",
};

// ASCII only: every excluded word is ASCII, so other characters can never be part of a match
// and need no case mapping.
std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

template <size_t N>
bool ContainsAny(const std::string& lower, const std::string_view (&parts)[N]) {
    return std::any_of(std::begin(parts), std::end(parts), [&](std::string_view part) {
        return lower.find(part) != std::string::npos;
    });
}

bool IsWantedType(uint32_t ifType) {
    return ifType == kIfTypeEthernet || ifType == kIfTypeWireless;
}

bool IsAllZero(const MacAddress& mac) {
    return std::all_of(mac.begin(), mac.end(), [](uint8_t b) { return b == 0; });
}

// First default route on `ifIndex`, or with `anyInterface` the first default route of all.
std::optional<Ipv4Address> FindDefaultRoute(const std::vector<Ipv4Route>& routes, uint32_t ifIndex,
                                            bool anyInterface) {
    for (const Ipv4Route& route : routes) {
        if (route.destination.IsZero() && (anyInterface || route.ifIndex == ifIndex)) {
            return route.nextHop;
        }
    }
    return std::nullopt;
}

// Builds the record for one adapter that passed the type and name filters.
AdapterInfo BuildCandidate(NetInfo& net, const NetAdapter& adapter, bool routesRead,
                           const std::vector<Ipv4Route>& routes) {
    AdapterInfo info;
    info.name = adapter.friendlyName;
    info.description = adapter.description;
    info.ifIndex = adapter.ifIndex;
    info.ifType = adapter.ifType;
    info.mtu = adapter.mtu;
    info.linkSpeed = adapter.transmitLinkSpeed;
    info.isUp = adapter.operStatusUp;
    info.found = true;

    if (adapter.physicalAddress.size() >= 6) info.mac = FormatMac(adapter.physicalAddress.data());

    if (!adapter.ipv4Unicast.empty()) info.ipv4 = adapter.ipv4Unicast.front().Text();
    for (const std::string& text : adapter.ipv6Unicast) {
        if (!IsIpv6LinkLocalText(text)) {
            info.ipv6 = text;
            break;
        }
    }

    // Only a route through this very adapter counts as its gateway. Falling back to another
    // interface's default route (as GetDefaultGateway does for callers that name no adapter)
    // would hand a route-less WiFi adapter listed first the wired gateway, and it would then
    // beat the adapter that really carries the traffic.
    if (routesRead) {
        const Ipv4Address gateway =
            FindDefaultRoute(routes, adapter.ifIndex, false).value_or(Ipv4Address());
        if (!gateway.IsZero()) {
            info.gatewayIp = gateway.Text();
            std::string mac;
            if (GetGatewayMac(net, gateway, &mac)) info.gatewayMac = mac;
        }
    }
    return info;
}

}  // namespace

bool IsIpv6LinkLocalText(const std::string& text) {
    // The first group is "fe80" exactly when the first two bytes are FE 80; it is always
    // written out (never folded into "::"), and four digits leave no room for leading zeros.
    return text.size() >= 5 && LowerAscii(std::string_view(text).substr(0, 5)) == "fe80:";
}

AdapterInfo DiscoverPrimaryAdapter(NetInfo& net) {
    std::vector<NetAdapter> adapters;
    if (!net.ListAdapters(adapters)) return AdapterInfo{};

    // One snapshot of the route table serves every candidate, so they are compared against
    // the same routes.
    std::vector<Ipv4Route> routes;
    const bool routesRead = net.ListRoutes(routes);

    std::vector<AdapterInfo> candidates;
    for (const NetAdapter& adapter : adapters) {
        if (!IsWantedType(adapter.ifType)) continue;
        if (ContainsAny(LowerAscii(adapter.description), kExcludedDescriptionParts)) continue;
        if (ContainsAny(LowerAscii(adapter.friendlyName), kExcludedNameParts)) continue;
        if (adapter.ipv4Unicast.empty() && adapter.ipv6Unicast.empty()) continue;
        candidates.push_back(BuildCandidate(net, adapter, routesRead, routes));
    }

    for (const AdapterInfo& info : candidates) {
        if (info.isUp && !info.gatewayIp.empty()) return info;
    }
    for (const AdapterInfo& info : candidates) {
        if (info.isUp) return info;
    }
    return AdapterInfo{};
}

Ipv4Address GetDefaultGateway(NetInfo& net, uint32_t ifIndex) {
    std::vector<Ipv4Route> routes;
    if (!net.ListRoutes(routes)) return Ipv4Address();
    if (auto own = FindDefaultRoute(routes, ifIndex, false)) return *own;
    return FindDefaultRoute(routes, 0, true).value_or(Ipv4Address());
}

bool GetGatewayMac(NetInfo& net, Ipv4Address address, std::string* out) {
    if (address.IsZero() || out == nullptr) return false;

    std::vector<NeighborEntry> neighbors;
    if (net.ListNeighbors(neighbors)) {
        for (const NeighborEntry& entry : neighbors) {
            // An incomplete entry has no hardware address yet; a zero one is a placeholder.
            if (entry.address == address && entry.complete && !IsAllZero(entry.mac)) {
                *out = FormatMac(entry.mac);
                return true;
            }
        }
    }

    const std::optional<MacAddress> resolved = net.ResolveNeighbor(address);
    if (!resolved || IsAllZero(*resolved)) return false;
    *out = FormatMac(*resolved);
    return true;
}

}  // namespace quillon
