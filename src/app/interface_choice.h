// InterfaceChoice: the computer's network tables seen as if only one named adapter existed, for
// a person who picks the primary adapter on the command line instead of letting adapter
// discovery choose. Routes and neighbours pass through unchanged; the system still routes the
// echoes. The application wraps its NetInfo in one at start-up; any thread may call, as on the
// NetInfo it wraps.
#pragma once

#include <string>

#include "platform/net_info.h"

namespace quillon {

class InterfaceChoice final : public NetInfo {
public:
    InterfaceChoice(NetInfo& inner, std::string friendlyName)
        : inner_(inner), name_(std::move(friendlyName)) {}

    // Only the adapter with the chosen friendly name (none when it is absent).
    bool ListAdapters(std::vector<NetAdapter>& out) override;
    bool ListRoutes(std::vector<Ipv4Route>& out) override { return inner_.ListRoutes(out); }
    bool ListNeighbors(std::vector<NeighborEntry>& out) override {
        return inner_.ListNeighbors(out);
    }
    std::optional<MacAddress> ResolveNeighbor(Ipv4Address address) override {
        return inner_.ResolveNeighbor(address);
    }

    const std::string& Name() const { return name_; }

private:
    NetInfo& inner_;
    std::string name_;
};

}  // namespace quillon
