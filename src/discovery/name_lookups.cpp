#include "discovery/name_lookups.h"

namespace quillon {

namespace {

std::string ReversedOctets(Ipv4Address address) {
    return Ipv4Address(address.Octet(3), address.Octet(2), address.Octet(1), address.Octet(0))
        .Text();
}

}  // namespace

std::string ReverseQueryName(Ipv4Address address) {
    return ReversedOctets(address) + ".in-addr.arpa";
}

std::string OriginQueryName(Ipv4Address address) {
    return ReversedOctets(address) + "." + kAsnOriginZone;
}

std::string AsNameQueryName(std::string_view asn) {
    std::string name = "AS";
    name += asn;
    name += '.';
    name += kAsnNameZone;
    return name;
}

std::optional<std::string> ParseOriginAsn(std::string_view firstString) {
    const size_t bar = firstString.find('|');
    if (bar == std::string_view::npos) return std::nullopt;
    std::string_view asn = firstString.substr(0, bar);
    while (!asn.empty() && asn.back() == ' ') asn.remove_suffix(1);
    return std::string(asn);
}

std::string ParseAsName(std::string_view firstString) {
    const size_t bar = firstString.rfind('|');
    if (bar == std::string_view::npos) return {};
    std::string_view name = firstString.substr(bar + 1);
    while (!name.empty() && name.front() == ' ') name.remove_prefix(1);
    return std::string(name);
}

std::string NameLookups::ReverseLookup(Ipv4Address address) {
    const DnsAnswer answer = dns_.Query(ReverseQueryName(address), DnsType::Ptr, false);
    // A CNAME (or anything else) in front of the PTR record counts as no name.
    if (!answer.ok || answer.records.empty() || answer.records.front().type != DnsType::Ptr) {
        return {};
    }
    return answer.records.front().ptr;
}

std::string NameLookups::GetHostnameCached(Ipv4Address address) {
    if (address.IsZero()) return {};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = hostnames_.find(address);
        if (it != hostnames_.end() && it->second.resolved) return it->second.hostname;
    }
    std::string hostname = ReverseLookup(address);
    std::lock_guard<std::mutex> lock(mutex_);
    HostEntry& entry = hostnames_[address];
    entry.hostname = hostname;
    entry.resolved = true;
    return hostname;
}

AsnInfo NameLookups::LookupAsn(Ipv4Address address) {
    if (address.IsZero()) return {};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = asns_.find(address);
        if (it != asns_.end() && it->second.resolved) return it->second.info;
    }
    AsnInfo info = QueryAsn(address);
    std::lock_guard<std::mutex> lock(mutex_);
    AsnEntry& entry = asns_[address];
    entry.info = info;
    entry.resolved = true;
    return info;
}

void NameLookups::ClearLookupCaches() {
    std::lock_guard<std::mutex> lock(mutex_);
    hostnames_.clear();
    asns_.clear();
}

std::optional<std::string> NameLookups::QueryFirstTxt(const std::string& name) {
    const DnsAnswer answer = dns_.Query(name, DnsType::Txt, false);
    if (!answer.ok || answer.records.empty()) return std::nullopt;
    const DnsRecord& first = answer.records.front();
    if (first.type != DnsType::Txt || first.strings.empty()) return std::nullopt;
    return first.strings.front();
}

AsnInfo NameLookups::QueryAsn(Ipv4Address address) {
    AsnInfo info;
    const std::optional<std::string> origin = QueryFirstTxt(OriginQueryName(address));
    if (!origin) return info;
    const std::optional<std::string> asn = ParseOriginAsn(*origin);
    if (!asn) return info;
    info.asn = *asn;
    info.valid = true;
    if (info.asn.empty()) return info;

    // Several origins come back as "64500 64501"; that name matches no record, so such an
    // address keeps its numbers but gets no holder name.
    if (const auto holder = QueryFirstTxt(AsNameQueryName(info.asn))) {
        info.asName = ParseAsName(*holder);
    }
    return info;
}

}  // namespace quillon
