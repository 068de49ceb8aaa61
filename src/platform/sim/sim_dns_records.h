// DnsRecords: the DNS data of a simulated world, made once from its WorldConfig: a PTR record for
// every named hop, an origin TXT record for every hop with an AS number, an AS-name TXT record
// for every AS with a name, an A record (and a PTR record unless a hop gave one) for every named
// service host, an A record for the STUN server when it answers, then the config's extra
// answers on top. SimWorld owns one and answers
// queries from it. Immutable after construction, so any thread may read it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "platform/dns.h"
#include "platform/sim/sim_world_config.h"

namespace quillon::sim {

// The response code a query for an unknown name fails with (NXDOMAIN).
constexpr int kDnsNameError = 3;

class DnsRecords {
public:
    explicit DnsRecords(const WorldConfig& config);

    // The answer for a name, in any letter case, and type; a failed answer when there is none.
    DnsAnswer Answer(const std::string& name, DnsType type) const;

    // Names compare without regard to letter case, as DNS names do.
    using Key = std::pair<std::string, uint16_t>;
    static Key KeyOf(const std::string& name, DnsType type);

private:
    void AddFor(const WorldConfig& config, Ipv4Address address, const std::string& name,
                uint32_t asn, const std::string& asName, const std::string& prefix,
                const std::string& country);

    std::map<Key, DnsAnswer> answers_;
};

}  // namespace quillon::sim
