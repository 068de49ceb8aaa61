// PublicIpInfo: the computer's public IPv4 address as a STUN server saw it, with the mapped
// UDP port and the names found for the address (reverse DNS, AS number and holder). One
// process-wide record is learned once per run by the public-address service; the network state
// builder reads a copy on the UI thread for the ISP segment. A plain value; valid is false
// until an address was learned.
#pragma once

#include <cstdint>
#include <string>

#include "base/ipv4.h"

namespace quillon {

struct PublicIpInfo {
    std::string ipAddress;  // dotted quad; empty until learned
    Ipv4Address ip;         // the same address; 0.0.0.0 until parsed
    uint16_t port = 0;      // mapped UDP port, host byte order
    std::string hostname;   // reverse DNS name, may be empty
    std::string asn;        // AS number as text, without the "AS" prefix
    std::string asName;     // AS holder, shown as the ISP's name
    bool valid = false;     // a public address was learned
};

}  // namespace quillon
