// SimDns: the Dns port over a SimWorld: the PTR and AS TXT records generated from the world's
// hops, plus the scenario's extra answers. Answers are immediate; there is no cache to bypass,
// so bypassCache changes nothing. Any thread; the world outlives the adapter.
#pragma once

#include "platform/dns.h"
#include "platform/sim/sim_world.h"

namespace quillon::sim {

class SimDns final : public Dns {
public:
    explicit SimDns(SimWorld& world) : world_(world) {}

    DnsAnswer Query(const std::string& name, DnsType type, bool /*bypassCache*/) override {
        return world_.QueryDns(name, type);
    }

private:
    SimWorld& world_;
};

}  // namespace quillon::sim
