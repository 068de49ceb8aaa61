#include "base/base64.h"

namespace quillon {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Digit(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::string Base64Encode(const std::vector<uint8_t>& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t b0 = bytes[i];
        const uint32_t b1 = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        const uint32_t b2 = i + 2 < bytes.size() ? bytes[i + 2] : 0;
        const uint32_t group = b0 << 16 | b1 << 8 | b2;
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
    }
    return out;
}

std::optional<std::vector<uint8_t>> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int padding = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (padding == 1 && text[i + 2] == '=') return std::nullopt;
        uint32_t group = 0;
        for (int k = 0; k < 4; ++k) {
            const int digit = k >= 4 - padding ? 0 : Base64Digit(text[i + k]);
            if (digit < 0) return std::nullopt;
            group = group << 6 | static_cast<uint32_t>(digit);
        }
        out.push_back(static_cast<uint8_t>(group >> 16));
        if (padding < 2) out.push_back(static_cast<uint8_t>(group >> 8));
        if (padding < 1) out.push_back(static_cast<uint8_t>(group));
    }
    return out;
}

std::optional<std::vector<uint8_t>> Base64UrlDecode(std::string_view text) {
    std::string standard(text);
    for (char& c : standard) {
        if (c == '+' || c == '/') return std::nullopt;
        if (c == '-') c = '+';
        if (c == '_') c = '/';
    }
    while (standard.size() % 4 != 0) standard += '=';
    return Base64Decode(standard);
}

}  // namespace quillon
