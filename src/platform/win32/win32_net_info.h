// Win32NetInfo: the NetInfo port over the IP Helper: adapters from GetAdaptersAddresses (with
// their gateways), IPv4 routes from GetIpForwardTable2 with each interface's metric added from
// GetIpInterfaceTable, neighbours from GetIpNetTable2, and a missing neighbour's hardware
// address from SendARP, which asks the network and waits for the answer.
// Stateless; any thread may call.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/net_info.h"

namespace quillon::win32 {

// The system's adapter records (GetAdaptersAddresses with `flags`) in `records`, 8-byte aligned
// as they need, read again while the list outgrows the buffer. The system's answer: NO_ERROR,
// ERROR_NO_DATA when there are no adapters, or why it failed.
unsigned long ReadAdapterRecords(unsigned long flags, std::vector<uint64_t>& records);

class Win32NetInfo final : public NetInfo {
public:
    bool ListAdapters(std::vector<NetAdapter>& out) override;
    bool ListRoutes(std::vector<Ipv4Route>& out) override;
    bool ListNeighbors(std::vector<NeighborEntry>& out) override;
    std::optional<MacAddress> ResolveNeighbor(Ipv4Address address) override;
};

}  // namespace quillon::win32
