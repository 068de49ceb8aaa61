// SimNetInfo: the NetInfo port over a SimWorld: its adapters, routes and neighbour table as the
// world holds them at the moment of the call. Resolving a neighbour that answers takes 1 ms of
// the world's clock; one that does not answer takes the whole second a system waits.
// Any thread; the world outlives the adapter.
#pragma once

#include "platform/net_info.h"
#include "platform/sim/sim_world.h"

namespace quillon::sim {

class SimNetInfo final : public NetInfo {
public:
    explicit SimNetInfo(SimWorld& world) : world_(world) {}

    bool ListAdapters(std::vector<NetAdapter>& out) override { return world_.ListAdapters(out); }
    bool ListRoutes(std::vector<Ipv4Route>& out) override { return world_.ListRoutes(out); }
    bool ListNeighbors(std::vector<NeighborEntry>& out) override {
        return world_.ListNeighbors(out);
    }
    std::optional<MacAddress> ResolveNeighbor(Ipv4Address address) override;

private:
    SimWorld& world_;
};

}  // namespace quillon::sim
