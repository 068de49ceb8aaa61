#include "base/standard_numbers.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>

namespace quillon {
namespace {

// Number conversion with the std::stoll / std::stod rules, independent of the global locale.

[[noreturn]] void ThrowInvalidStod() {
    throw std::invalid_argument("invalid stod argument");
}
[[noreturn]] void ThrowStodRange() {
    throw std::out_of_range("stod argument out of range");
}

// A decimal exponent ("+12", "-7", "3"), saturated: beyond a billion only the sign matters.
std::int64_t ReadExponent(const char* p, const char* end) {
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    std::int64_t e = 0;
    for (; p < end && IsDecimalDigit(*p); ++p)
        e = std::min<std::int64_t>(e * 10 + (*p - '0'), 1 << 30);
    return negative ? -e : e;
}

// Whether the decimal text [p, end) denotes exactly the subnormal `value`. strtod reports a
// range error for an inexact subnormal result only, and from_chars does not tell them apart.
bool DecimalIsExactly(const char* p, const char* end, double value) {
    // Both sides normalised to significant digits S and exponent X, value = 0.S * 10^X.
    std::string digits;
    std::int64_t point = 0;
    bool afterPoint = false;
    for (; p < end && (IsDecimalDigit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            afterPoint = true;
        } else if (digits.empty() && *p == '0') {
            if (afterPoint) --point;
        } else {
            digits.push_back(*p);
            if (!afterPoint) ++point;
        }
    }
    if (p < end && (*p == 'e' || *p == 'E')) point += ReadExponent(p + 1, end);
    while (!digits.empty() && digits.back() == '0') digits.pop_back();

    // A subnormal's exact expansion has at most 767 significant digits.
    char buf[800];
    const auto res =
        std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific, 780);
    const char* e = std::find(buf, res.ptr, 'e');
    std::string exact(1, buf[0]);
    exact.append(buf + 2, e - (buf + 2));
    while (!exact.empty() && exact.back() == '0') exact.pop_back();
    return digits == exact && point == ReadExponent(e + 1, res.ptr) + 1;
}

// The same question for hexadecimal text [p, end) after "0x": exact when the lowest set bit of
// the mantissa is not below 2^-1074.
bool HexIsExactly(const char* p, const char* end) {
    std::int64_t index = 0;
    std::int64_t integerDigits = -1;
    std::int64_t lastIndex = 0;
    int lastDigit = 0;
    for (; p < end && (HexDigitValue(*p) >= 0 || *p == '.'); ++p) {
        if (*p == '.') {
            integerDigits = index;
            continue;
        }
        if (const int d = HexDigitValue(*p); d != 0) {
            lastIndex = index;
            lastDigit = d;
        }
        ++index;
    }
    if (integerDigits < 0) integerDigits = index;
    const std::int64_t exponent =
        (p < end && (*p == 'p' || *p == 'P')) ? ReadExponent(p + 1, end) : 0;
    const std::int64_t lowestBit = 4 * (integerDigits - 1 - lastIndex) +
                                   std::countr_zero(static_cast<unsigned>(lastDigit)) + exponent;
    return lowestBit >= -1074;
}

// strtod's range rule on a from_chars result: overflow and underflow to zero arrive as
// result_out_of_range; a subnormal result is a range error unless it is exact.
double CheckRange(std::from_chars_result res, double value, bool exact) {
    if (res.ec == std::errc::invalid_argument) ThrowInvalidStod();
    if (res.ec == std::errc::result_out_of_range) ThrowStodRange();
    if (value != 0 && std::fabs(value) < DBL_MIN && !exact) ThrowStodRange();
    return value;
}

// Hexadecimal digits after "0x" count only when a mantissa follows ("0x1", "0x.8"); otherwise
// strtod reads just the "0".
bool HexMantissaFollows(const char* p, const char* end) {
    if (p < end && HexDigitValue(*p) >= 0) return true;
    return end - p >= 2 && *p == '.' && HexDigitValue(p[1]) >= 0;
}

// The extent of a hexadecimal float after "0x": digits, a point, digits, and a binary exponent
// only when a digit follows its sign. from_chars gets exactly this range, since libstdc++ 12
// also reads "p+-1" as an exponent.
const char* HexTokenEnd(const char* p, const char* end) {
    while (p < end && HexDigitValue(*p) >= 0) ++p;
    if (p < end && *p == '.') {
        for (++p; p < end && HexDigitValue(*p) >= 0;) ++p;
    }
    if (p < end && (*p == 'p' || *p == 'P')) {
        const char* q = p + 1;
        if (q < end && (*q == '+' || *q == '-')) ++q;
        if (q < end && IsDecimalDigit(*q)) {
            for (p = q; p < end && IsDecimalDigit(*p);) ++p;
        }
    }
    return p;
}

}  // namespace

std::int64_t ParseDecimalInteger(std::string_view token) {
    std::size_t i = 0;
    const bool negative = !token.empty() && token[0] == '-';
    if (negative) ++i;
    if (i == token.size()) throw std::invalid_argument("invalid stoll argument");
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t v = 0;
    for (; i < token.size(); ++i) {
        const unsigned d = static_cast<unsigned>(token[i] - '0');
        if (v > (limit - d) / 10) throw std::out_of_range("stoll argument out of range");
        v = v * 10 + d;
    }
    return static_cast<std::int64_t>(negative ? 0 - v : v);
}

int ParseHexInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsClassicSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        HexDigitValue(text[i + 2]) >= 0) {
        i += 2;
    }
    const std::size_t first = i;
    int v = 0;
    for (; i < text.size() && HexDigitValue(text[i]) >= 0; ++i) v = v * 16 + HexDigitValue(text[i]);
    if (i == first) throw std::invalid_argument("invalid stoi argument");
    return negative ? -v : v;
}

double ParseDecimal(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && IsClassicSpace(*p)) ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    // from_chars takes a minus sign of its own; strtod takes one sign only.
    if (p == end || *p == '+' || *p == '-') ThrowInvalidStod();

    double value = 0;
    if (end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        HexMantissaFollows(p + 2, end)) {
        const auto res =
            std::from_chars(p + 2, HexTokenEnd(p + 2, end), value, std::chars_format::hex);
        value = CheckRange(res, value, HexIsExactly(p + 2, res.ptr));
    } else {
        const auto res = std::from_chars(p, end, value);
        const bool subnormal = res.ec == std::errc() && value != 0 && std::fabs(value) < DBL_MIN;
        value = CheckRange(res, value, subnormal && DecimalIsExactly(p, res.ptr, value));
    }
    return negative ? -value : value;
}

}  // namespace quillon
