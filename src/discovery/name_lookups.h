// Name look-ups for the addresses the application shows: the host name of an IPv4 address from
// its PTR record, and its autonomous system (number and holder's name) from two TXT queries to
// a public DNS-based IP-to-ASN service. Results, failures included, are cached per address
// until ClearLookupCaches, which path discovery calls when it starts over.
//
// Traceroute's worker thread and the thread that builds the network state call in
// concurrently. One mutex guards both caches and is held only for look-ups and updates, never
// across a DNS query, so two threads may query the same address at once (the later result
// wins). The parse helpers are pure and reachable without a resolver (the fuzzer uses them).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/dns.h"

namespace quillon {

// Zones of the IP-to-ASN service: the origin zone answers "<reversed address>.<zone>" with
// "ASN | prefix | country | registry | date"; the name zone answers "AS<number>.<zone>" with
// "ASN | country | registry | date | holder name".
inline constexpr char kAsnOriginZone[] = "origin.asn.cymru.com";
inline constexpr char kAsnNameZone[] = "asn.cymru.com";

struct AsnInfo {
    std::string asn;     // number(s) without "AS"; several are separated by blanks
    std::string asName;  // holder's name; may be empty
    bool valid = false;  // the origin answer had a record that could be parsed
};

// "d.c.b.a.in-addr.arpa" for a.b.c.d: the PTR query name.
std::string ReverseQueryName(Ipv4Address address);
// "d.c.b.a.<origin zone>" for a.b.c.d: the origin TXT query name.
std::string OriginQueryName(Ipv4Address address);
// "AS<asn>.<name zone>": the AS-name TXT query name.
std::string AsNameQueryName(std::string_view asn);

// From the first string of an origin answer: the text before the first '|' with trailing
// blanks removed (possibly empty); nullopt when there is no '|'.
std::optional<std::string> ParseOriginAsn(std::string_view firstString);
// From the first string of an AS-name answer: the text after the last '|' with leading blanks
// removed (trailing ones kept); empty when there is no '|' or nothing follows it.
std::string ParseAsName(std::string_view firstString);

class NameLookups {
  public:
    // `dns` must outlive this object.
    explicit NameLookups(Dns& dns) : dns_(dns) {}

    NameLookups(const NameLookups&) = delete;
    NameLookups& operator=(const NameLookups&) = delete;

    // The PTR name of `address`, or empty. Not cached; only the answer's first record counts.
    std::string ReverseLookup(Ipv4Address address);
    // ReverseLookup through the cache. 0.0.0.0 gives empty without a query or cache entry.
    std::string GetHostnameCached(Ipv4Address address);
    // AS number and name through the cache. 0.0.0.0 gives an invalid result without a query.
    AsnInfo LookupAsn(Ipv4Address address);
    // Forgets every cached name and AS, so the next look-ups query again.
    void ClearLookupCaches();

  private:
    struct HostEntry {
        std::string hostname;
        bool resolved = false;
    };
    struct AsnEntry {
        AsnInfo info;
        bool resolved = false;
    };

    // The first string of the first record when that record is TXT; nullopt otherwise.
    std::optional<std::string> QueryFirstTxt(const std::string& name);
    AsnInfo QueryAsn(Ipv4Address address);

    Dns& dns_;
    std::mutex mutex_;  // guards both caches
    std::unordered_map<Ipv4Address, HostEntry> hostnames_;
    std::unordered_map<Ipv4Address, AsnEntry> asns_;
};

}  // namespace quillon
