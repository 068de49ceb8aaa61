// Number texts read with the standard library's conversion rules (std::stoi with base 16,
// std::stoll, std::stod) and their exact exception messages, in the classic locale whatever the
// global locale is. The JSON parser reads its tokens with them; decimal texts from web services
// go through ParseDecimal. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace quillon {

// isspace() in the classic locale.
constexpr bool IsClassicSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool IsDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

// The value of a hexadecimal digit, or -1.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// std::stoi(text, nullptr, 16) on a short text (at most four bytes: it cannot overflow):
// whitespace, a sign, an optional 0x, hex digits. Throws std::invalid_argument("invalid stoi
// argument") when no digit converts.
int ParseHexInt(std::string_view text);

// std::stoll on an optional '-' followed by decimal digits only (a JSON integer token). Throws
// std::invalid_argument("invalid stoll argument") without digits and
// std::out_of_range("stoll argument out of range") beyond 64 bits.
std::int64_t ParseDecimalInteger(std::string_view token);

// Decimal text to double with std::stod's rules (leading whitespace, sign, decimal or
// hexadecimal digits, inf and nan). Throws std::invalid_argument("invalid stod argument") when
// nothing converts and std::out_of_range("stod argument out of range") on overflow or inexact
// underflow.
double ParseDecimal(std::string_view text);

}  // namespace quillon
