// Records of one discovered path: the result of a single echo and the hop record a traceroute
// keeps for each time-to-live. Plain values, copied freely between threads.
#pragma once

#include <cstdint>
#include <string>

#include "base/ipv4.h"
#include "path/segment.h"

namespace quillon {

// Result of a single blocking echo with a chosen time-to-live.
struct ProbeResult {
    int32_t ttl = 0;
    Ipv4Address address;  // who answered; 0.0.0.0 when nothing did
    uint32_t rttMs = 0;
    bool timedOut = true;
};

struct HopRecord {
    int32_t ttl = 0;      // 1..15, shown as the hop number
    Ipv4Address address;  // 0.0.0.0 for a hop that did not answer
    std::string hostname;
    std::string asn;
    std::string asName;
    uint32_t rttMs = 0;  // of the discovery probe
    bool timedOut = true;
    HopLabel label = HopLabel::Transit;
};

}  // namespace quillon
