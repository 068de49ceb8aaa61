#include "base/json_value.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "base/standard_numbers.h"
#include "base/utf8.h"

namespace quillon {
namespace {

constexpr char32_t kReplacement = kReplacementCharacter;

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
        } else if (c == '-' || IsDecimalDigit(c)) {
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
        while (p_ < end_ && IsClassicSpace(*p_)) ++p_;
    }
    void SkipDigits() {
        while (p_ < end_ && IsDecimalDigit(*p_)) ++p_;
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
        const int code = ParseHexInt(std::string_view(p_, n));
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
            out.value_.emplace<std::int64_t>(ParseDecimalInteger(token));
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

}  // namespace quillon
