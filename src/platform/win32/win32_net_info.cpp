#include "platform/win32/win32_net_info.h"

#include <cstring>
#include <map>

#include "platform/win32/win32_net_parse.h"

namespace quillon::win32 {

namespace {

// Frees a table the IP Helper allocated.
template <typename Table>
struct MibTable {
    Table* table = nullptr;
    ~MibTable() {
        if (table != nullptr) FreeMibTable(table);
    }
};

}  // namespace

unsigned long ReadAdapterRecords(unsigned long flags, std::vector<uint64_t>& records) {
    // The list may grow between the size query and the read: try again with what it now needs.
    ULONG size = 16 * 1024;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        records.assign(size / sizeof(uint64_t) + 1, 0);
        result =
            GetAdaptersAddresses(AF_UNSPEC, flags, nullptr,
                                 reinterpret_cast<IP_ADAPTER_ADDRESSES*>(records.data()), &size);
    }
    return result;
}

bool Win32NetInfo::ListAdapters(std::vector<NetAdapter>& out) {
    const ULONG flags = GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST |
                        GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    std::vector<uint64_t> buffer;
    const ULONG result = ReadAdapterRecords(flags, buffer);
    if (result == ERROR_NO_DATA) {
        out.clear();
        return true;
    }
    if (result != NO_ERROR) return false;
    std::vector<NetAdapter> adapters;
    for (const auto* record = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         record != nullptr; record = record->Next) {
        adapters.push_back(AdapterOf(*record));
    }
    out = std::move(adapters);
    return true;
}

bool Win32NetInfo::ListRoutes(std::vector<Ipv4Route>& out) {
    MibTable<MIB_IPFORWARD_TABLE2> routes;
    if (GetIpForwardTable2(AF_INET, &routes.table) != NO_ERROR) return false;
    std::map<uint32_t, uint32_t> interfaceMetrics;
    MibTable<MIB_IPINTERFACE_TABLE> interfaces;
    if (GetIpInterfaceTable(AF_INET, &interfaces.table) == NO_ERROR) {
        for (ULONG i = 0; i < interfaces.table->NumEntries; ++i) {
            const MIB_IPINTERFACE_ROW& row = interfaces.table->Table[i];
            interfaceMetrics[row.InterfaceIndex] = row.Metric;
        }
    }
    out.clear();
    for (ULONG i = 0; i < routes.table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& row = routes.table->Table[i];
        const auto metric = interfaceMetrics.find(row.InterfaceIndex);
        if (auto route = RouteOf(row, metric != interfaceMetrics.end() ? metric->second : 0)) {
            out.push_back(*route);
        }
    }
    return true;
}

bool Win32NetInfo::ListNeighbors(std::vector<NeighborEntry>& out) {
    MibTable<MIB_IPNET_TABLE2> neighbors;
    if (GetIpNetTable2(AF_INET, &neighbors.table) != NO_ERROR) return false;
    out.clear();
    for (ULONG i = 0; i < neighbors.table->NumEntries; ++i) {
        if (auto entry = NeighborOf(neighbors.table->Table[i])) out.push_back(*entry);
    }
    return true;
}

std::optional<MacAddress> Win32NetInfo::ResolveNeighbor(Ipv4Address address) {
    if (address.IsZero()) return std::nullopt;
    std::vector<NeighborEntry> table;
    if (ListNeighbors(table)) {
        for (const NeighborEntry& entry : table) {
            if (entry.address == address && entry.complete) return entry.mac;
        }
    }
    ULONG mac[2] = {};
    ULONG length = sizeof(mac);
    if (SendARP(address.NetworkOrder(), 0, mac, &length) != NO_ERROR) return std::nullopt;
    MacAddress result{};
    if (length != result.size()) return std::nullopt;
    std::memcpy(result.data(), mac, result.size());
    return result;
}

}  // namespace quillon::win32
