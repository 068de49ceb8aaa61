#include "backend/json_value.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace quillon {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// isspace() in the classic locale.
constexpr bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        const char bytes[] = {static_cast<char>(0xC0 | (cp >> 6)),
                              static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 2);
    } else if (cp < 0x10000) {
        const char bytes[] = {static_cast<char>(0xE0 | (cp >> 12)),
                              static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                              static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 3);
    } else {
        const char bytes[] = {
            static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
            static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(bytes, 4);
    }
}

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
    for (; p < end && IsDigit(*p); ++p) e = std::min<std::int64_t>(e * 10 + (*p - '0'), 1 << 30);
    return negative ? -e : e;
}

// Whether the decimal text [p, end) denotes exactly the subnormal `value`. strtod reports a
// range error for an inexact subnormal result only, and from_chars does not tell them apart.
bool DecimalIsExactly(const char* p, const char* end, double value) {
    // Both sides normalised to significant digits S and exponent X, value = 0.S * 10^X.
    std::string digits;
    std::int64_t point = 0;
    bool afterPoint = false;
    for (; p < end && (IsDigit(*p) || *p == '.'); ++p) {
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
        if (q < end && IsDigit(*q)) {
            for (p = q; p < end && IsDigit(*p);) ++p;
        }
    }
    return p;
}

std::int64_t ParseIntegerToken(std::string_view token) {
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

// std::stoi(text, nullptr, 16) on the at most four bytes of a \u escape: whitespace, a sign,
// an optional 0x, hex digits. Four bytes cannot overflow an int, so its range error never arises.
int ParseHexEscape(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
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

// Serialisation.

// Per byte: 0 when copied as is, 'u' for the \u00xx form, else the letter after the backslash.
constexpr std::array<char, 256> kEscape = [] {
    std::array<char, 256> table{};
    for (int c = 0; c < 0x20; ++c) table[c] = 'u';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}();

// Copies runs of plain bytes in bulk.
void AppendEscaped(std::string& out, std::string_view bytes) {
    out.push_back('"');
    const char* run = bytes.data();
    const char* const end = run + bytes.size();
    for (const char* p = run; p != end; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        const char letter = kEscape[c];
        if (letter == 0) continue;
        out.append(run, p - run);
        run = p + 1;
        if (letter == 'u') {
            constexpr char kHex[] = "0123456789abcdef";
            const char esc[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
            out.append(esc, sizeof esc);
        } else {
            const char esc[] = {'\\', letter};
            out.append(esc, sizeof esc);
        }
    }
    out.append(run, end - run);
    out.push_back('"');
}

// "%.15g" in the classic locale: to_chars with a precision is defined as printf would write it,
// and unlike snprintf it ignores LC_NUMERIC.
void AppendDouble(std::string& out, double d) {
    if (!std::isfinite(d)) {
        out.append("null", 4);  // JSON has no spelling for them
        return;
    }
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    out.append(buf, res.ptr - buf);
}

void AppendInteger(std::string& out, std::int64_t n) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, res.ptr - buf);
}

}  // namespace

// Parser: a cursor over the text; a position at or past the end reads as byte 0.

class JsonParser {
  public:
    explicit JsonParser(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    // `out` is Null on entry; `depth` counts the containers around the value.
    void ParseValue(JsonValue& out, int depth) {
        SkipSpace();
        const char c = Peek();
        if (c == '"') {
            ParseString(out.value_.emplace<std::string>());
        } else if (c == '-' || IsDigit(c)) {
            ParseNumber(out);
        } else if (c == '[' || c == '{') {
            if (depth >= kMaxJsonDepth) return;  // refused like any unexpected byte
            if (c == '[') {
                ParseArray(out.value_.emplace<JsonValue::Array>(), depth + 1);
            } else {
                ParseObject(out.value_.emplace<JsonValue::Object>(), depth + 1);
            }
        } else if (c == 'n') {
            if (Next("null")) p_ += 4;
        } else if (c == 't' || c == 'f') {
            if (Next("true")) {
                out.value_.emplace<bool>(true);
                p_ += 4;
            } else if (Next("false")) {
                out.value_.emplace<bool>(false);
                p_ += 5;
            }
        }
        // Anything else, the end included, is Null without advancing.
    }

  private:
    char Peek() const { return p_ < end_ ? *p_ : '\0'; }
    bool Next(std::string_view word) const {
        return static_cast<std::size_t>(end_ - p_) >= word.size() &&
               std::equal(word.begin(), word.end(), p_);
    }
    void SkipSpace() {
        while (p_ < end_ && IsSpace(*p_)) ++p_;
    }
    void SkipDigits() {
        while (p_ < end_ && IsDigit(*p_)) ++p_;
    }

    // Cursor on the opening quote; an unterminated string gives what was read.
    void ParseString(std::string& out) {
        ++p_;
        while (p_ < end_) {
            const char* run = p_;
            while (p_ < end_ && *p_ != '"' && *p_ != '\\') ++p_;
            out.append(run, p_ - run);
            if (p_ == end_) return;
            if (*p_++ == '"') return;
            // A backslash at the very end escapes the byte 0 that the end reads as.
            const char c = Peek();
            if (p_ < end_) ++p_;
            if (c == 'u') {
                ParseUnicodeEscape(out);
            } else {
                // The five control letters; '"', '/', '\\' and any other byte stand for themselves.
                constexpr std::string_view kLetters = "bfnrt", kBytes = "\b\f\n\r\t";
                const std::size_t i = kLetters.find(c);
                out.push_back(i == std::string_view::npos ? c : kBytes[i]);
            }
        }
    }

    // The four bytes after \u; the cursor moves by four even when fewer remain.
    int ReadHexEscape() {
        const std::size_t n = std::min<std::size_t>(4, end_ - p_);
        const int code = ParseHexEscape(std::string_view(p_, n));
        p_ += n;
        return code;
    }

    void ParseUnicodeEscape(std::string& out) {
        const int code = ReadHexEscape();
        if (code < 0) {
            AppendUtf8(out, kReplacement);
        } else if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code >= 0xD800 && code <= 0xDBFF) {
            // A high surrogate joins an immediately following \u low surrogate; otherwise the
            // following escape is read again on its own.
            const char* const mark = p_;
            if (end_ - p_ >= 2 && p_[0] == '\\' && p_[1] == 'u') {
                p_ += 2;
                const int low = ReadHexEscape();
                if (low >= 0xDC00 && low <= 0xDFFF) {
                    AppendUtf8(out, 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00));
                    return;
                }
                p_ = mark;
            }
            AppendUtf8(out, kReplacement);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, static_cast<char32_t>(code));
        }
    }

    void ParseArray(JsonValue::Array& array, int depth) {
        ++p_;
        SkipSpace();
        if (Peek() == ']') {
            ++p_;
            return;
        }
        for (;;) {
            ParseValue(array.emplace_back(), depth);
            SkipSpace();
            if (p_ == end_) return;
            if (*p_ == ']') {
                ++p_;
                return;
            }
            if (*p_ != ',') return;
            ++p_;
            SkipSpace();
        }
    }

    void ParseObject(JsonValue::Object& object, int depth) {
        ++p_;
        SkipSpace();
        if (Peek() == '}') {
            ++p_;
            return;
        }
        for (;;) {
            SkipSpace();
            if (Peek() != '"') return;
            std::string key;
            ParseString(key);
            SkipSpace();
            if (p_ == end_) return;
            if (*p_++ != ':') return;  // the unexpected byte is consumed
            SkipSpace();
            ParseValue(Slot(object, std::move(key)), depth);
            SkipSpace();
            if (Peek() == '}') {
                ++p_;
                return;
            }
            if (Peek() != ',') return;
            ++p_;
        }
    }

    // The Null member under `key`; a duplicate key replaces the earlier value in place.
    static JsonValue& Slot(JsonValue::Object& object, std::string&& key) {
        // Keys often arrive sorted (our own output), which makes the end a perfect hint.
        if (object.empty() || object.rbegin()->first < key) {
            return object.emplace_hint(object.end(), std::move(key), JsonValue())->second;
        }
        auto [it, inserted] = object.try_emplace(std::move(key));
        if (!inserted) it->second = JsonValue();
        return it->second;
    }

    void ParseNumber(JsonValue& out) {
        const char* const start = p_;
        if (*p_ == '-') ++p_;
        SkipDigits();
        bool floating = false;
        if (p_ < end_ && *p_ == '.') {
            floating = true;
            ++p_;
            SkipDigits();
        }
        if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
            floating = true;
            ++p_;
            if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
            SkipDigits();
        }
        const std::string_view token(start, p_ - start);
        if (floating) {
            out.value_.emplace<double>(ParseDecimal(token));
        } else {
            out.value_.emplace<std::int64_t>(ParseIntegerToken(token));
        }
    }

    const char* p_;
    const char* const end_;
};

// JsonValue

JsonValue& JsonValue::operator=(const JsonValue& other) {
    if (this != &other) {
        JsonValue copy(other);
        value_ = std::move(copy.value_);
    }
    return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
    if (this != &other) {
        // Detach first: `other` may live inside the payload that the assignment destroys.
        JsonValue moved(std::move(other));
        value_ = std::move(moved.value_);
    }
    return *this;
}

JsonType JsonValue::type() const noexcept {
    if (value_.valueless_by_exception()) return static_cast<JsonType>(-1);
    return static_cast<JsonType>(value_.index());
}

void JsonValue::ThrowBadAccess() {
    // The standard's own what() text varies between libraries; callers may log it.
    struct BadAccess : std::bad_variant_access {
        const char* what() const noexcept override { return "bad variant access"; }
    };
    throw BadAccess();
}

JsonValue& JsonValue::operator[](std::string_view key) {
    if (!std::holds_alternative<Object>(value_)) value_.emplace<Object>();
    Object& object = std::get<Object>(value_);
    auto it = object.lower_bound(key);
    if (it == object.end() || it->first != key) {
        it = object.emplace_hint(it, std::string(key), JsonValue());
    }
    return it->second;
}

const JsonValue& JsonValue::member(std::string_view key) const {
    // Never destroyed, so it stays valid for readers that run during static destruction.
    static const JsonValue& kNull = *new JsonValue();
    if (const Object* object = std::get_if<Object>(&value_)) {
        if (auto it = object->find(key); it != object->end()) return it->second;
    }
    return kNull;
}

bool JsonValue::contains(std::string_view key) const {
    const Object* object = std::get_if<Object>(&value_);
    return object != nullptr && object->contains(key);
}

void JsonValue::push_back(JsonValue value) {
    if (!std::holds_alternative<Array>(value_)) value_.emplace<Array>();
    Array& array = std::get<Array>(value_);
    if (array.size() == array.capacity()) {
        array.reserve(std::max(array.size() + 1, array.capacity() + array.capacity() / 2));
    }
    array.push_back(std::move(value));
}

JsonValue JsonValue::parse(std::string_view text) {
    JsonValue result;
    JsonParser(text).ParseValue(result, 0);
    return result;
}

std::string JsonValue::dump() const {
    std::string out;
    out.reserve(std::holds_alternative<Array>(value_) || std::holds_alternative<Object>(value_)
                    ? 1024
                    : 32);
    AppendTo(out);
    return out;
}

std::string JsonValue::escapeString(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + 2);
    AppendEscaped(out, bytes);
    return out;
}

void JsonValue::AppendTo(std::string& out) const {
    switch (value_.index()) {
        case 1:
            if (*std::get_if<bool>(&value_)) {
                out.append("true", 4);
            } else {
                out.append("false", 5);
            }
            return;
        case 2:
            AppendInteger(out, *std::get_if<std::int64_t>(&value_));
            return;
        case 3:
            AppendDouble(out, *std::get_if<double>(&value_));
            return;
        case 4:
            AppendEscaped(out, *std::get_if<std::string>(&value_));
            return;
        case 5: {
            out.push_back('[');
            bool first = true;
            for (const JsonValue& element : *std::get_if<Array>(&value_)) {
                if (!first) out.push_back(',');
                first = false;
                element.AppendTo(out);
            }
            out.push_back(']');
            return;
        }
        case 6: {
            out.push_back('{');
            bool first = true;
            for (const auto& [key, member] : *std::get_if<Object>(&value_)) {
                if (!first) out.push_back(',');
                first = false;
                AppendEscaped(out, key);
                out.push_back(':');
                member.AppendTo(out);
            }
            out.push_back('}');
            return;
        }
        default:
            out.append("null", 4);
            return;  // Null, or a value left without a kind
    }
}

// Free functions

std::string toUtf8(std::u16string_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::u16string fromUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        // Well-formed sequences only: the allowed range of the second byte depends on the lead
        // (no overlong forms, no surrogates, nothing above U+10FFFF).
        int trail;
        char32_t cp;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            trail = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            trail = 2;
            cp = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            trail = 3;
            cp = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        for (; trail > 0 && j < n; --trail, ++j) {
            const auto c = static_cast<unsigned char>(bytes[j]);
            if (c < low || c > high) break;
            cp = (cp << 6) | (c & 0x3F);
            low = 0x80;
            high = 0xBF;
        }
        i = j;
        if (trail > 0) {
            out.push_back(kReplacement);  // one per maximal ill-formed subpart
        } else if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

double ParseDecimal(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end && IsSpace(*p)) ++p;
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
