// Address texts: dotted-quad IPv4 text in both directions and the colon-separated hardware
// address text, done by hand so the core needs no socket headers. Also the private-range test
// that traceroute and discovery use to tell the home network from the internet.
//
// Called from any thread (adapter discovery, traceroute, the network state builder, parsers of
// configuration and UI input). Everything here is pure and keeps no state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/ipv4.h"
#include "platform/net_info.h"

namespace quillon {

// "%02X:%02X:%02X:%02X:%02X:%02X": upper-case hex, colons, 17 characters.
std::string FormatMac(const MacAddress& mac);
// Same, from the first six bytes at `bytes` (which must hold at least six).
std::string FormatMac(const uint8_t* bytes);

// 10/8, 172.16/12, 192.168/16, 169.254/16 (link-local) and 100.64/10 (carrier-grade NAT).
bool IsPrivateAddress(Ipv4Address address);

}  // namespace quillon
