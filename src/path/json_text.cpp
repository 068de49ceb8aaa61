#include "path/json_text.h"

#include <array>
#include <charconv>
#include <cmath>

namespace quillon {

void AppendFixed(std::string& out, double value, int decimals) {
    if (!std::isfinite(value)) value = 0;  // JSON has no NaN or infinity
    char buffer[64];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec == std::errc()) {
        out.append(buffer, result.ptr);
    } else {
        out += '0';  // beyond any figure we measure
    }
}

std::string FormatFixed(double value, int decimals) {
    std::string out;
    AppendFixed(out, value, decimals);
    return out;
}

namespace {

// Bytes a JSON string cannot carry as they are: control bytes, the quote and the backslash.
constexpr auto kNeedsEscape = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 0x20; ++c) table[c] = true;
    table['"'] = table['\\'] = true;
    return table;
}();

}  // namespace

void JsonText::BeforeValue() {
    if (needComma_) out_ += ',';
    needComma_ = true;
}

JsonText& JsonText::BeginObject() {
    BeforeValue();
    out_ += '{';
    needComma_ = false;
    return *this;
}

JsonText& JsonText::EndObject() {
    out_ += '}';
    needComma_ = true;
    return *this;
}

JsonText& JsonText::BeginArray() {
    BeforeValue();
    out_ += '[';
    needComma_ = false;
    return *this;
}

JsonText& JsonText::EndArray() {
    out_ += ']';
    needComma_ = true;
    return *this;
}

JsonText& JsonText::Key(std::string_view key) {
    String(key);
    out_ += ':';
    needComma_ = false;
    return *this;
}

JsonText& JsonText::String(std::string_view text) {
    BeforeValue();
    static constexpr char kHex[] = "0123456789abcdef";
    out_ += '"';
    size_t plain = 0;  // start of the run of bytes copied as they are
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(text[i]);
        if (!kNeedsEscape[ch]) continue;
        out_.append(text.data() + plain, i - plain);
        plain = i + 1;
        switch (ch) {
            case '\t': out_ += "\\t"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            default:
                out_ += "\\u00";
                out_ += kHex[ch >> 4];
                out_ += kHex[ch & 0xF];
        }
    }
    out_.append(text.data() + plain, text.size() - plain);
    out_ += '"';
    return *this;
}

JsonText& JsonText::Integer(int64_t value) {
    BeforeValue();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
    return *this;
}

JsonText& JsonText::Fixed(double value, int decimals) {
    BeforeValue();
    AppendFixed(out_, value, decimals);
    return *this;
}

JsonText& JsonText::Bool(bool value) {
    BeforeValue();
    out_ += value ? "true" : "false";
    return *this;
}

JsonText& JsonText::Raw(std::string_view json) {
    BeforeValue();
    out_ += json;
    return *this;
}

}  // namespace quillon
