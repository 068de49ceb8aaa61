// Address texts of the simulated world: dotted quads, CIDR prefixes and hardware addresses as
// scenario files and tests write them. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ipv4.h"
#include "platform/net_info.h"

namespace quillon::sim {

// The mask of a prefix length 0..32: 24 gives 255.255.255.0.
Ipv4Address PrefixMask(int prefixLength);

struct Ipv4Prefix {
    Ipv4Address address;  // with the host bits cleared
    Ipv4Address mask;
};
// "a.b.c.d/len"; a bare address means /32. Host bits set below the mask are an error.
std::optional<Ipv4Prefix> ParseIpv4Prefix(std::string_view text);

// Six hexadecimal octets separated by ':' or '-'.
std::optional<MacAddress> ParseMac(std::string_view text);
std::string FormatMac(const MacAddress& mac);
// Any number of hexadecimal octets separated by ':' or '-' (adapters may report fewer than
// six); the empty text is no octets.
std::optional<std::vector<uint8_t>> ParseHardwareAddress(std::string_view text);

// The octets last to first: 192.0.2.1 gives "1.2.0.192".
std::string ReversedOctets(Ipv4Address address);
// The reverse-lookup owner name: 192.0.2.1 gives "1.2.0.192.in-addr.arpa".
std::string ReverseName(Ipv4Address address);

}  // namespace quillon::sim
