#include "discovery/address_text.h"

#include <cstdio>

namespace quillon {

namespace {

uint8_t Octet(uint32_t address, int index) {
    return static_cast<uint8_t>((address >> (8 * index)) & 0xFF);
}

}  // namespace

std::string Ipv4ToText(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", Octet(address, 0), Octet(address, 1),
                  Octet(address, 2), Octet(address, 3));
    return text;
}

std::optional<uint32_t> ParseIpv4(std::string_view text) {
    uint32_t address = 0;
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != '.') return std::nullopt;
            ++pos;
        }
        const size_t start = pos;
        uint32_t value = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
            value = value * 10 + static_cast<uint32_t>(text[pos] - '0');
            ++pos;
        }
        const size_t digits = pos - start;
        if (digits == 0 || value > 255) return std::nullopt;
        // "01" would read as octal to some parsers; refuse it rather than guess.
        if (digits > 1 && text[start] == '0') return std::nullopt;
        address |= value << (8 * part);
    }
    // A fourth digit in a part, a fifth part or any trailing text all end up here.
    if (pos != text.size()) return std::nullopt;
    return address;
}

std::string FormatMac(const uint8_t* bytes) {
    char text[18];
    std::snprintf(text, sizeof(text), "%02X:%02X:%02X:%02X:%02X:%02X", bytes[0], bytes[1], bytes[2],
                  bytes[3], bytes[4], bytes[5]);
    return text;
}

std::string FormatMac(const MacAddress& mac) {
    return FormatMac(mac.data());
}

bool IsPrivateAddress(uint32_t address) {
    const uint8_t a = Octet(address, 0);
    const uint8_t b = Octet(address, 1);
    return a == 10 || (a == 172 && (b & 0xF0) == 16) || (a == 192 && b == 168) ||
           (a == 169 && b == 254) || (a == 100 && (b & 0xC0) == 64);
}

}  // namespace quillon
