#include "base/ipv4.h"

#include <charconv>

namespace quillon {

// Written digit by digit: the network state writes every hop's address on each tick, and a
// formatted print costs several times more.
std::string Ipv4Address::Text() const {
    std::string text;
    text.reserve(15);
    for (int octet = 0; octet < 4; ++octet) {
        if (octet > 0) text += '.';
        char digits[3];
        text.append(digits, std::to_chars(digits, digits + sizeof(digits), Octet(octet)).ptr);
    }
    return text;
}

std::optional<Ipv4Address> Ipv4Address::Parse(std::string_view text) {
    uint8_t octets[4] = {};
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
        octets[part] = static_cast<uint8_t>(value);
    }
    // A fourth digit in a part, a fifth part or any trailing text all end up here.
    if (pos != text.size()) return std::nullopt;
    return Ipv4Address(octets[0], octets[1], octets[2], octets[3]);
}

}  // namespace quillon
