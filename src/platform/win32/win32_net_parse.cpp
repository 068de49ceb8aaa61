#include "platform/win32/win32_net_parse.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/win32/win32_text.h"

namespace quillon::win32 {

namespace {

Ipv4Address AddressOf(const SOCKADDR_IN& address) {
    return Ipv4Address::FromNetworkOrder(address.sin_addr.s_addr);
}

Ipv4Address MaskOf(uint8_t prefixLength) {
    if (prefixLength == 0) return Ipv4Address();
    const uint32_t bits = prefixLength >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefixLength);
    return Ipv4Address(static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                       static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits));
}

}  // namespace

std::string Ipv6Text(const uint8_t (&bytes)[16]) {
    uint16_t groups[8];
    for (int i = 0; i < 8; ++i)
        groups[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    int bestStart = -1, bestLength = 1;  // a lone zero group stays written out
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0) ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j == i ? i + 1 : j;
    }
    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') text += ':';
        char group[5];
        std::snprintf(group, sizeof(group), "%x", groups[i]);
        text += group;
    }
    return text;
}

NetAdapter AdapterOf(const IP_ADAPTER_ADDRESSES& record) {
    NetAdapter adapter;
    adapter.friendlyName = Narrow(record.FriendlyName);
    adapter.description = Narrow(record.Description);
    adapter.ifIndex = record.IfIndex;
    adapter.ifType = record.IfType;
    adapter.operStatusUp = record.OperStatus == IfOperStatusUp;
    adapter.mtu = record.Mtu;
    // The system says "unknown" with all bits set.
    adapter.transmitLinkSpeed = record.TransmitLinkSpeed == std::numeric_limits<ULONG64>::max()
                                    ? 0
                                    : record.TransmitLinkSpeed;
    const size_t length = record.PhysicalAddressLength <= MAX_ADAPTER_ADDRESS_LENGTH
                              ? record.PhysicalAddressLength
                              : MAX_ADAPTER_ADDRESS_LENGTH;
    adapter.physicalAddress.assign(record.PhysicalAddress, record.PhysicalAddress + length);
    for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = record.FirstUnicastAddress; unicast != nullptr;
         unicast = unicast->Next) {
        const SOCKADDR* address = unicast->Address.lpSockaddr;
        if (address == nullptr) continue;
        if (address->sa_family == AF_INET) {
            adapter.ipv4Unicast.push_back(
                AddressOf(*reinterpret_cast<const SOCKADDR_IN*>(address)));
        } else if (address->sa_family == AF_INET6) {
            const auto* in6 = reinterpret_cast<const SOCKADDR_IN6*>(address);
            uint8_t bytes[16];
            std::memcpy(bytes, &in6->sin6_addr, sizeof(bytes));
            adapter.ipv6Unicast.push_back(Ipv6Text(bytes));
        }
    }
    for (const IP_ADAPTER_GATEWAY_ADDRESS_LH* gateway = record.FirstGatewayAddress;
         gateway != nullptr; gateway = gateway->Next) {
        const SOCKADDR* address = gateway->Address.lpSockaddr;
        if (address != nullptr && address->sa_family == AF_INET) {
            adapter.ipv4Gateways.push_back(
                AddressOf(*reinterpret_cast<const SOCKADDR_IN*>(address)));
        }
    }
    return adapter;
}

std::optional<Ipv4Route> RouteOf(const MIB_IPFORWARD_ROW2& row, uint32_t interfaceMetric) {
    if (row.DestinationPrefix.Prefix.si_family != AF_INET) return std::nullopt;
    Ipv4Route route;
    route.destination = AddressOf(row.DestinationPrefix.Prefix.Ipv4);
    route.mask = MaskOf(row.DestinationPrefix.PrefixLength);
    route.nextHop = row.NextHop.si_family == AF_INET ? AddressOf(row.NextHop.Ipv4) : Ipv4Address();
    route.ifIndex = row.InterfaceIndex;
    route.metric = row.Metric + interfaceMetric;
    return route;
}

std::optional<NeighborEntry> NeighborOf(const MIB_IPNET_ROW2& row) {
    if (row.Address.si_family != AF_INET) return std::nullopt;
    const Ipv4Address address = AddressOf(row.Address.Ipv4);
    const bool multicast = (address.Octet(0) & 0xF0) == 0xE0;
    if (multicast || address == Ipv4Address(255, 255, 255, 255)) return std::nullopt;
    NeighborEntry entry;
    entry.address = address;
    entry.ifIndex = row.InterfaceIndex;
    const bool sixBytes = row.PhysicalAddressLength == entry.mac.size();
    if (sixBytes) std::memcpy(entry.mac.data(), row.PhysicalAddress, entry.mac.size());
    bool broadcast = sixBytes, zero = true;
    for (uint8_t byte : entry.mac) {
        broadcast = broadcast && byte == 0xFF;
        zero = zero && byte == 0;
    }
    if (broadcast) return std::nullopt;  // a subnet's broadcast address
    // Probe, delay, stale, reachable and permanent entries all hold an address the system
    // learnt or was given; incomplete and unreachable ones do not.
    entry.complete = sixBytes && !zero && row.State >= NlnsProbe;
    return entry;
}

}  // namespace quillon::win32
