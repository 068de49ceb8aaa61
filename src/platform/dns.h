// Dns: record queries through the system resolver (its cache and configured servers). Used for
// reverse names of hops, AS numbers from TXT records and the DNS check of service probes.
// Blocking; any thread may call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/ipv4.h"

namespace quillon {

enum class DnsType : uint16_t { A = 1, Ptr = 12, Txt = 16 };

struct DnsRecord {
    DnsType type = DnsType::A;
    std::string name;                  // owner name of the record
    Ipv4Address a;                     // A: the address
    std::string ptr;                   // PTR: the target name
    std::vector<std::string> strings;  // TXT: the character strings in order
};

struct DnsAnswer {
    bool ok = false;              // the query succeeded (a name error or time-out is not ok)
    int error = 0;                // resolver error code when !ok
    std::vector<DnsRecord> records;  // answer section in order
};

class Dns {
public:
    virtual ~Dns() = default;
    // Queries one name for one record type. bypassCache asks the resolver to skip its cache
    // where the platform has one.
    virtual DnsAnswer Query(const std::string& name, DnsType type, bool bypassCache) = 0;
};

}  // namespace quillon
