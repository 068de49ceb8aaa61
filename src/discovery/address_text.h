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

#include "platform/net_info.h"

namespace quillon {

// An IPv4 address in network byte order from its four octets: a is the first octet and lands
// in the lowest byte, so MakeIpv4(1, 2, 3, 4) == 0x04030201.
constexpr uint32_t MakeIpv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) |
           (static_cast<uint32_t>(c) << 16) | (static_cast<uint32_t>(d) << 24);
}

// "a.b.c.d" in decimal, first octet first; at most 15 characters.
std::string Ipv4ToText(uint32_t address);

// The strict dotted-quad form only: four decimal parts of one to three digits, each 0..255,
// no leading zero except a lone "0", nothing before, between or after. Host names, short forms
// ("1.2.3"), octal or hex forms and blanks are refused.
std::optional<uint32_t> ParseIpv4(std::string_view text);

// "%02X:%02X:%02X:%02X:%02X:%02X": upper-case hex, colons, 17 characters.
std::string FormatMac(const MacAddress& mac);
// Same, from the first six bytes at `bytes` (which must hold at least six).
std::string FormatMac(const uint8_t* bytes);

// 10/8, 172.16/12, 192.168/16, 169.254/16 (link-local) and 100.64/10 (carrier-grade NAT).
bool IsPrivateAddress(uint32_t address);

}  // namespace quillon
