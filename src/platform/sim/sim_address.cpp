#include "platform/sim/sim_address.h"

#include <algorithm>
#include <cstdio>

#include "base/standard_numbers.h"

namespace quillon::sim {

namespace {

// Reads a decimal number of at most three digits and at most 255 from the front of text.
std::optional<uint32_t> TakeOctet(std::string_view& text) {
    size_t digits = 0;
    uint32_t value = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        if (digits == 3) return std::nullopt;
        value = value * 10 + uint32_t(text[digits] - '0');
        ++digits;
    }
    if (digits == 0 || value > 255) return std::nullopt;
    text.remove_prefix(digits);
    return value;
}

}  // namespace

Ipv4Address PrefixMask(int prefixLength) {
    uint8_t octets[4] = {};
    for (int i = 0; i < 4; ++i) {
        const int ones = std::clamp(prefixLength - 8 * i, 0, 8);
        octets[i] = uint8_t(0xFF00u >> ones);
    }
    return Ipv4Address(octets[0], octets[1], octets[2], octets[3]);
}

std::optional<Ipv4Prefix> ParseIpv4Prefix(std::string_view text) {
    int length = 32;
    const size_t slash = text.find('/');
    if (slash != std::string_view::npos) {
        std::string_view lengthText = text.substr(slash + 1);
        const auto parsed = TakeOctet(lengthText);
        if (!parsed || !lengthText.empty() || *parsed > 32) return std::nullopt;
        length = int(*parsed);
        text = text.substr(0, slash);
    }
    const auto address = Ipv4Address::Parse(text);
    if (!address) return std::nullopt;
    const Ipv4Address mask = PrefixMask(length);
    if ((*address & mask) != *address) return std::nullopt;
    return Ipv4Prefix{*address, mask};
}

std::optional<MacAddress> ParseMac(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    MacAddress mac{};
    for (size_t i = 0; i < 6; ++i) {
        const int high = HexDigitValue(text[i * 3]);
        const int low = HexDigitValue(text[i * 3 + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        if (i < 5 && text[i * 3 + 2] != ':' && text[i * 3 + 2] != '-') return std::nullopt;
        mac[i] = uint8_t(high << 4 | low);
    }
    return mac;
}

std::optional<std::vector<uint8_t>> ParseHardwareAddress(std::string_view text) {
    std::vector<uint8_t> octets;
    for (size_t i = 0; i < text.size(); i += 3) {
        if (i + 2 > text.size()) return std::nullopt;
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        if (i + 2 < text.size() && text[i + 2] != ':' && text[i + 2] != '-') return std::nullopt;
        if (i + 3 == text.size()) return std::nullopt;  // a separator with nothing after it
        octets.push_back(uint8_t(high << 4 | low));
    }
    return octets;
}

std::string FormatMac(const MacAddress& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string ReversedOctets(Ipv4Address address) {
    return Ipv4Address(address.Octet(3), address.Octet(2), address.Octet(1), address.Octet(0))
        .Text();
}

std::string ReverseName(Ipv4Address address) {
    return ReversedOctets(address) + ".in-addr.arpa";
}

}  // namespace quillon::sim
