// FakeNetInfo: the system's adapter, route and neighbour tables as a test sets them, each
// readable or failing; records the calls that cost time (neighbour reads, resolutions).
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "platform/net_info.h"

namespace quillon::test {

class FakeNetInfo : public NetInfo {
public:
    bool ListAdapters(std::vector<NetAdapter>& out) override {
        out = adapters;
        return adaptersOk;
    }
    bool ListRoutes(std::vector<Ipv4Route>& out) override {
        out = routes;
        return routesOk;
    }
    bool ListNeighbors(std::vector<NeighborEntry>& out) override {
        ++neighborReads;
        out = neighbors;
        return neighborsOk;
    }
    std::optional<MacAddress> ResolveNeighbor(Ipv4Address address) override {
        resolved.push_back(address);
        const auto it = resolvable.find(address);
        if (it == resolvable.end()) return std::nullopt;
        return it->second;
    }

    std::vector<NetAdapter> adapters;
    std::vector<Ipv4Route> routes;
    std::vector<NeighborEntry> neighbors;
    std::map<Ipv4Address, MacAddress> resolvable;
    bool adaptersOk = true, routesOk = true, neighborsOk = true;
    int neighborReads = 0;
    std::vector<Ipv4Address> resolved;
};

}  // namespace quillon::test
