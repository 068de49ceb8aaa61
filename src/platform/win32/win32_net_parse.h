// Turning the IP Helper's records (adapter records, route and neighbour rows) into the NetInfo
// port's, kept apart from the calls so that unit tests reach them with records built in the
// test. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include "platform/net_info.h"

namespace quillon::win32 {

// An IPv6 address in its canonical text form: lower-case hex without leading zeros, the first
// longest run of two or more zero groups written "::".
std::string Ipv6Text(const uint8_t (&bytes)[16]);

// One adapter record with its address lists (unicast IPv4 and IPv6, IPv4 gateways).
NetAdapter AdapterOf(const IP_ADAPTER_ADDRESSES& record);

// An IPv4 route row; empty for IPv6 rows. The system chooses among routes by the route's metric
// plus its interface's, so `interfaceMetric` is added, as the system's own route listing shows.
std::optional<Ipv4Route> RouteOf(const MIB_IPFORWARD_ROW2& row, uint32_t interfaceMetric);

// An IPv4 neighbour row; empty for IPv6 rows and for the fixed entries the system keeps for
// multicast and broadcast addresses, which are no neighbours.
std::optional<NeighborEntry> NeighborOf(const MIB_IPNET_ROW2& row);

}  // namespace quillon::win32
