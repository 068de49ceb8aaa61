// Adapter and gateway discovery: picks the primary adapter (the physical Ethernet or WiFi
// adapter that carries the computer's traffic) and learns its default gateway's address and
// hardware address from the system's route and neighbour tables.
//
// Called at start-up and on network changes from the UI thread, by the gateway sign-in command
// and by path discovery's worker thread. Keeps no state between calls: every call reads the
// tables afresh through NetInfo and returns values. Calls block for as long as NetInfo does
// (one neighbour resolution per candidate adapter at worst), so they are not for periodic use.
#pragma once

#include <cstdint>
#include <string>

#include "platform/net_info.h"

namespace quillon {

// One adapter as the rest of the application sees it. Value type; an empty record (found false)
// means no adapter qualified.
struct AdapterInfo {
    std::string name;         // friendly name, shown as the interface name
    std::string ipv4;         // first IPv4 unicast address as text; empty if none
    std::string ipv6;         // first IPv6 unicast address outside fe80::/16; empty if none
    std::string mac;          // "AA:BB:CC:DD:EE:FF"; empty when fewer than 6 bytes are reported
    std::string gatewayIp;    // default gateway through this adapter; empty if none
    std::string gatewayMac;   // the gateway's hardware address; empty if not learned
    uint32_t ifIndex = 0;     // IPv4 interface index
    uint32_t ifType = 0;      // kIfTypeEthernet or kIfTypeWireless
    uint32_t mtu = 0;         // bytes
    uint64_t linkSpeed = 0;   // transmit speed, bits per second
    std::string description;  // driver/product text, shown as the adapter name
    bool isUp = false;        // operational status is up
    bool found = false;       // true for every record built from a real adapter
};

// Lists the adapters, keeps physical Ethernet and WiFi adapters that have an address, and
// returns the first one that is up and has a gateway, else the first one that is up, else the
// empty record.
AdapterInfo DiscoverPrimaryAdapter(NetInfo& net);

// Next hop of the first default route (destination 0.0.0.0, any mask) on `ifIndex`; failing
// that, of the first default route on any interface; 0.0.0.0 when there is none or the table
// cannot be read. With ifIndex 0 this is simply the table's first default route.
Ipv4Address GetDefaultGateway(NetInfo& net, uint32_t ifIndex);

// Fills `out` with the hardware address of `address`: from the first complete, non-zero entry
// for it in the neighbour table, else by asking the network. False (and `out` untouched) when
// the address is 0.0.0.0, `out` is null, or no non-zero address was learned.
bool GetGatewayMac(NetInfo& net, Ipv4Address address, std::string* out);

// True when the adapter's IPv6 text lies in fe80::/16, the link-local addresses that are
// never shown. Decided from the text's first group, in either letter case.
bool IsIpv6LinkLocalText(const std::string& text);

}  // namespace quillon
