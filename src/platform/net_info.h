// NetInfo: the computer's own network configuration: adapters, the IPv4 route table and the
// neighbour (ARP) table, plus resolving a neighbour's hardware address. Adapter selection and
// gateway discovery in the core read these tables; adapters only report what the system says.
// Calls may block (resolving a neighbour waits up to about a second); any thread may call.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/ipv4.h"

namespace quillon {

using MacAddress = std::array<uint8_t, 6>;

constexpr uint32_t kIfTypeEthernet = 6;
constexpr uint32_t kIfTypeWireless = 71;

struct NetAdapter {
    std::string friendlyName;  // shown as the interface name
    std::string description;   // what the device is; virtual devices say "virtual"
    uint32_t ifIndex = 0;
    uint32_t ifType = 0;          // kIfTypeEthernet, kIfTypeWireless or another system type
    bool operStatusUp = false;
    uint32_t mtu = 0;
    uint64_t transmitLinkSpeed = 0;         // bits per second
    std::vector<uint8_t> physicalAddress;   // as many bytes as the system reports
    std::vector<Ipv4Address> ipv4Unicast;   // in the system's order
    std::vector<std::string> ipv6Unicast;   // texts, in the system's order
    std::vector<Ipv4Address> ipv4Gateways;  // gateways the system lists for this adapter
};

struct Ipv4Route {
    Ipv4Address destination;
    Ipv4Address mask;
    Ipv4Address nextHop;
    uint32_t ifIndex = 0;
    uint32_t metric = 0;
};

struct NeighborEntry {
    Ipv4Address address;
    uint32_t ifIndex = 0;
    MacAddress mac{};
    bool complete = false;  // the hardware address is known (not incomplete or failed)
};

class NetInfo {
public:
    virtual ~NetInfo() = default;

    // All adapters the system knows, in its order. False when the list cannot be read.
    virtual bool ListAdapters(std::vector<NetAdapter>& out) = 0;
    // The IPv4 route table in the system's order. False when it cannot be read.
    virtual bool ListRoutes(std::vector<Ipv4Route>& out) = 0;
    // The IPv4 neighbour table. False when it cannot be read.
    virtual bool ListNeighbors(std::vector<NeighborEntry>& out) = 0;
    // Asks the network for the hardware address of a neighbour the table lacks; blocks up to
    // about a second. Empty when nothing answered.
    virtual std::optional<MacAddress> ResolveNeighbor(Ipv4Address address) = 0;
};

}  // namespace quillon
