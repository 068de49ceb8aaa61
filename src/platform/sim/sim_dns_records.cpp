#include "platform/sim/sim_dns_records.h"

#include "platform/sim/sim_address.h"

namespace quillon::sim {

namespace {

DnsAnswer TxtAnswer(const std::string& name, std::string text) {
    DnsRecord record;
    record.type = DnsType::Txt;
    record.name = name;
    record.strings.push_back(std::move(text));
    return DnsAnswer{true, 0, {record}};
}

}  // namespace

DnsRecords::DnsRecords(const WorldConfig& config) {
    // The first description of an address wins: shared hops are copies of each other.
    for (const PathConfig& path : config.paths) {
        for (const HopConfig& hop : path.hops) {
            AddFor(config, hop.address, hop.name, hop.asn, hop.asName, hop.asPrefix, hop.country);
        }
        AddFor(config, path.destination, path.destinationName, path.destinationAsn,
               path.destinationAsName, "", "ZZ");
    }
    // A name shared by several hosts answers with all their addresses, in the order given.
    for (const ServiceHostConfig& host : config.serviceHosts) {
        if (host.name.empty()) continue;
        DnsRecord a;
        a.type = DnsType::A;
        a.name = host.name;
        a.a = host.address;
        DnsAnswer& answer = answers_[KeyOf(host.name, DnsType::A)];
        answer.ok = true;
        answer.records.push_back(a);
        DnsRecord ptr;
        ptr.type = DnsType::Ptr;
        ptr.name = ReverseName(host.address);
        ptr.ptr = host.name;
        answers_.emplace(KeyOf(ptr.name, DnsType::Ptr), DnsAnswer{true, 0, {ptr}});
    }
    if (!config.stun.publicAddress.IsZero() && !config.stun.name.empty()) {
        DnsRecord a;
        a.type = DnsType::A;
        a.name = config.stun.name;
        a.a = config.stun.address;
        answers_.emplace(KeyOf(a.name, DnsType::A), DnsAnswer{true, 0, {a}});
    }
    for (const DnsAnswerConfig& extra : config.dnsAnswers) {
        answers_[KeyOf(extra.name, extra.type)] = extra.answer;
    }
}

void DnsRecords::AddFor(const WorldConfig& config, Ipv4Address address, const std::string& name,
                        uint32_t asn, const std::string& asName, const std::string& prefix,
                        const std::string& country) {
    if (address.IsZero()) return;
    if (!name.empty()) {
        DnsRecord ptr;
        ptr.type = DnsType::Ptr;
        ptr.name = ReverseName(address);
        ptr.ptr = name;
        answers_.emplace(KeyOf(ptr.name, DnsType::Ptr), DnsAnswer{true, 0, {ptr}});
    }
    if (asn == 0) return;
    const std::string asText = std::to_string(asn);
    const std::string origin = ReversedOctets(address) + "." + config.originZone;
    const std::string prefixText =
        prefix.empty() ? (address & PrefixMask(24)).Text() + "/24" : prefix;
    answers_.emplace(KeyOf(origin, DnsType::Txt),
                     TxtAnswer(origin, asText + " | " + prefixText + " | " + country +
                                           " | registry | 2000-01-01"));
    if (asName.empty()) return;
    const std::string owner = "AS" + asText + "." + config.asNameZone;
    answers_.emplace(
        KeyOf(owner, DnsType::Txt),
        TxtAnswer(owner, asText + " | " + country + " | registry | 2000-01-01 | " + asName));
}

DnsAnswer DnsRecords::Answer(const std::string& name, DnsType type) const {
    const auto it = answers_.find(KeyOf(name, type));
    if (it != answers_.end()) return it->second;
    DnsAnswer failed;
    failed.error = kDnsNameError;
    return failed;
}

DnsRecords::Key DnsRecords::KeyOf(const std::string& name, DnsType type) {
    std::string lower = name;
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return {lower, uint16_t(type)};
}

}  // namespace quillon::sim
