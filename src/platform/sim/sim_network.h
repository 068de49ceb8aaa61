// SimNetwork: one simulated network with its port adapters, for whoever composes a Platform on
// the simulation (the simulate command line mode, scenario tests). Owns the world and the
// adapters; hand out icmp(), netInfo(), netEvents(), dns(), sockets(), http() and wlan() and keep
// this object alive longer than their users. netEvents() holds the world's change listener.
// Thread-safety is the world's and the adapters'.
#pragma once

#include "platform/sim/sim_dns.h"
#include "platform/sim/sim_http.h"
#include "platform/sim/sim_icmp.h"
#include "platform/sim/sim_net_events.h"
#include "platform/sim/sim_net_info.h"
#include "platform/sim/sim_sockets.h"
#include "platform/sim/sim_wlan.h"
#include "platform/sim/sim_world.h"

namespace quillon::sim {

class SimNetwork {
public:
    SimNetwork(WorldConfig config, Clock& clock)
        : world_(std::move(config), clock),
          icmp_(world_),
          netInfo_(world_),
          netEvents_(world_),
          dns_(world_),
          sockets_(world_),
          http_(world_),
          wlan_(world_) {}

    SimWorld& world() { return world_; }
    IcmpApi& icmp() { return icmp_; }
    NetInfo& netInfo() { return netInfo_; }
    NetEvents& netEvents() { return netEvents_; }
    Dns& dns() { return dns_; }
    Sockets& sockets() { return sockets_; }
    Http& http() { return http_; }
    Wlan& wlan() { return wlan_; }

private:
    SimWorld world_;
    SimIcmp icmp_;
    SimNetInfo netInfo_;
    SimNetEvents netEvents_;
    SimDns dns_;
    SimSockets sockets_;
    SimHttp http_;
    SimWlan wlan_;
};

}  // namespace quillon::sim
