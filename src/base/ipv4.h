// IPv4 addresses as the program keeps them: a uint32_t in network byte order, the first octet
// in the lowest byte (1.2.3.4 == 0x04030201), as the system's socket and ICMP calls take them.
// The one way to write one from its octets, to read dotted-quad text and to write it back.
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// 192.168.1.1 written as Ipv4(192, 168, 1, 1).
constexpr uint32_t Ipv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    return static_cast<uint32_t>(a) | (static_cast<uint32_t>(b) << 8) |
           (static_cast<uint32_t>(c) << 16) | (static_cast<uint32_t>(d) << 24);
}

// "a.b.c.d" in decimal, first octet first; at most 15 characters.
std::string Ipv4ToText(uint32_t address);

// The strict dotted-quad form only: four decimal parts of one to three digits, each 0..255,
// no leading zero except a lone "0", nothing before, between or after. Host names, short forms
// ("1.2.3"), octal or hex forms and blanks are refused.
std::optional<uint32_t> ParseIpv4(std::string_view text);

}  // namespace quillon
