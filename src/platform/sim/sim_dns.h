// SimDns: the Dns port over a SimWorld: the PTR and AS TXT records generated from the world's
// hops, the A (and PTR) records of its service hosts, plus the scenario's extra answers. An A
// query for a service host's name takes the host's dnsMs on the world's clock; everything else
// answers at once. There is no cache to bypass, so bypassCache changes nothing. Any thread; the
// world outlives the adapter.
#pragma once

#include "platform/dns.h"
#include "platform/sim/sim_world.h"

namespace quillon::sim {

class SimDns final : public Dns {
public:
    explicit SimDns(SimWorld& world) : world_(world) {}

    DnsAnswer Query(const std::string& name, DnsType type, bool /*bypassCache*/) override {
        if (type == DnsType::A) {
            if (const uint32_t delay = world_.NameDelayMs(name)) world_.clock().Sleep(delay);
        }
        return world_.QueryDns(name, type);
    }

private:
    SimWorld& world_;
};

}  // namespace quillon::sim
