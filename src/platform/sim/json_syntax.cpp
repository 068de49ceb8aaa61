#include "platform/sim/json_syntax.h"

#include <cctype>
#include <cstdint>
#include <exception>
#include <set>

#include "base/json_value.h"

namespace quillon::sim {

namespace {

class SyntaxChecker {
public:
    explicit SyntaxChecker(std::string_view text) : text_(text) {}

    std::optional<std::string> Run() {
        SkipSpace();
        if (!Value(0)) return error_;
        SkipSpace();
        if (pos_ < text_.size()) return Error("unexpected text after the end of the document");
        return std::nullopt;
    }

private:
    std::optional<std::string> Error(const std::string& what) {
        int line = 1;
        int column = 1;
        for (size_t i = 0; i < pos_ && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) {
                ++column;  // count characters, not UTF-8 continuation bytes
            }
        }
        error_ =
            "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + what;
        return error_;
    }
    bool Fail(const std::string& what) {
        Error(what);
        return false;
    }

    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
    void SkipSpace() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
            ++pos_;
        }
    }

    bool Value(int depth) {
        if (AtEnd()) return Fail("the document ends where a value was expected");
        const char c = Peek();
        if (c == '{' || c == '[') {
            if (depth >= kMaxJsonDepth) return Fail("nested too deeply");
            return c == '{' ? Object(depth + 1) : Array(depth + 1);
        }
        if (c == '"') return String(nullptr);
        if (c == '-' || (c >= '0' && c <= '9')) return Number();
        for (const std::string_view word : {"true", "false", "null"}) {
            if (text_.substr(pos_, word.size()) == word) {
                pos_ += word.size();
                return true;
            }
        }
        return Fail("expected a value (object, array, string, number, true, false or null)");
    }

    bool Object(int depth) {
        ++pos_;  // '{'
        std::set<std::string_view> keys;
        SkipSpace();
        if (Peek() == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (Peek() != '"') return Fail("expected a member name in double quotes");
            const size_t keyAt = pos_;
            std::string_view key;
            if (!String(&key)) return false;
            if (!keys.insert(key).second) {
                pos_ = keyAt;
                return Fail("member \"" + std::string(key) + "\" appears twice");
            }
            SkipSpace();
            if (Peek() != ':') return Fail("expected ':' after the member name");
            ++pos_;
            SkipSpace();
            if (!Value(depth)) return false;
            SkipSpace();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            if (Peek() == '}') {
                ++pos_;
                return true;
            }
            return Fail("expected ',' or '}' after an object member");
        }
    }

    bool Array(int depth) {
        ++pos_;  // '['
        SkipSpace();
        if (Peek() == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (!Value(depth)) return false;
            SkipSpace();
            if (Peek() == ',') {
                ++pos_;
                continue;
            }
            if (Peek() == ']') {
                ++pos_;
                return true;
            }
            return Fail("expected ',' or ']' after an array element");
        }
    }

    // The raw text between the quotes goes to *raw when asked (for duplicate detection).
    bool String(std::string_view* raw) {
        const size_t start = ++pos_;  // after '"'
        while (!AtEnd()) {
            const unsigned char c = static_cast<unsigned char>(Peek());
            if (c == '"') {
                if (raw) *raw = text_.substr(start, pos_ - start);
                ++pos_;
                return true;
            }
            if (c < 0x20) return Fail("control character inside a string");
            if (c == '\\') {
                ++pos_;
                const char e = Peek();
                if (e == 'u') {
                    for (int i = 1; i <= 4; ++i) {
                        const char h = pos_ + i < text_.size() ? text_[pos_ + i] : '\0';
                        if (!std::isxdigit(static_cast<unsigned char>(h))) {
                            return Fail("\\u must be followed by four hexadecimal digits");
                        }
                    }
                    pos_ += 4;
                } else if (AtEnd() ||
                           std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
                    return Fail("unknown escape sequence in a string");
                }
            }
            ++pos_;
        }
        return Fail("the document ends inside a string");
    }

    bool Digits() {
        const size_t start = pos_;
        while (Peek() >= '0' && Peek() <= '9') ++pos_;
        return pos_ > start;
    }

    // The number must also fit what the application's parser makes of it: a 64-bit integer
    // when written without fraction or exponent, else a double.
    bool Number() {
        const size_t start = pos_;
        bool floating = false;
        if (Peek() == '-') ++pos_;
        if (Peek() == '0') {
            ++pos_;
        } else if (!Digits()) {
            return Fail("expected digits in a number");
        }
        if (Peek() == '.') {
            ++pos_;
            floating = true;
            if (!Digits()) return Fail("expected digits after the decimal point");
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++pos_;
            floating = true;
            if (Peek() == '+' || Peek() == '-') ++pos_;
            if (!Digits()) return Fail("expected digits in the exponent");
        }
        const std::string_view token = text_.substr(start, pos_ - start);
        bool fits = true;
        if (floating) {
            try {
                ParseDecimal(token);
            } catch (const std::exception&) {
                fits = false;
            }
        } else {
            const bool negative = token.front() == '-';
            const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
            uint64_t value = 0;
            for (char c : token.substr(negative ? 1 : 0)) {
                const uint64_t digit = uint64_t(c - '0');
                if (value > (limit - digit) / 10) {
                    fits = false;
                    break;
                }
                value = value * 10 + digit;
            }
        }
        if (!fits) {
            pos_ = start;
            return Fail("number " + std::string(token) + " is out of range");
        }
        return true;
    }

    std::string_view text_;
    size_t pos_ = 0;
    std::string error_;
};

}  // namespace

std::optional<std::string> FindJsonSyntaxError(std::string_view text) {
    return SyntaxChecker(text).Run();
}

}  // namespace quillon::sim
