#include "platform/linux/linux_settings_codec.h"

#include <exception>

#include "base/json_value.h"

namespace quillon::lnx {

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

const char* TypeName(SettingType type) {
    switch (type) {
        case SettingType::String:
            return "string";
        case SettingType::ExpandableString:
            return "expandable";
        case SettingType::Binary:
            return "binary";
        case SettingType::Dword:
            return "dword";
    }
    return "";
}

// The text without whitespace outside string literals: the form dump() produces.
std::string Compact(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            out += c;
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
            out += c;
        } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
            out += c;
        }
    }
    return out;
}

std::optional<SettingValue> DecodeEntry(const JsonValue& entry) {
    if (entry.type() != JsonType::Object || entry.asObject().size() != 2) return std::nullopt;
    const JsonValue& type = entry.member("type");
    const JsonValue& value = entry.member("value");
    if (type.type() != JsonType::String) return std::nullopt;
    SettingValue out;
    const std::string& name = type.asString();
    if (name == "string" || name == "expandable") {
        if (value.type() != JsonType::String) return std::nullopt;
        out.type = name == "string" ? SettingType::String : SettingType::ExpandableString;
        out.text = value.asString();
    } else if (name == "binary") {
        if (value.type() != JsonType::String) return std::nullopt;
        auto bytes = Base64Decode(value.asString());
        if (!bytes) return std::nullopt;
        out.type = SettingType::Binary;
        out.bytes = std::move(*bytes);
    } else if (name == "dword") {
        if (value.type() != JsonType::Integer || value.asInteger() < 0 ||
            value.asInteger() > 0xFFFFFFFFll) {
            return std::nullopt;
        }
        out.type = SettingType::Dword;
        out.dword = static_cast<uint32_t>(value.asInteger());
    } else {
        return std::nullopt;
    }
    return out;
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

std::string EncodeSettings(const SettingMap& values) {
    JsonValue::Object entries;
    for (const auto& [name, value] : values) {
        JsonValue entry;
        entry["type"] = TypeName(value.type);
        switch (value.type) {
            case SettingType::String:
            case SettingType::ExpandableString:
                entry["value"] = value.text;
                break;
            case SettingType::Binary:
                entry["value"] = Base64Encode(value.bytes);
                break;
            case SettingType::Dword:
                entry["value"] = value.dword;
                break;
        }
        entries.emplace(name, std::move(entry));
    }
    JsonValue root;
    root["values"] = JsonValue(std::move(entries));
    return root.dump() + "\n";
}

std::optional<SettingMap> DecodeSettings(std::string_view text) {
    JsonValue root;
    try {
        root = JsonValue::parse(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    // The lenient reader stops quietly at damage; a text that is not all one value, written
    // the way we write it, is damaged.
    if (root.type() != JsonType::Object || root.asObject().size() != 1) return std::nullopt;
    if (Compact(text) != root.dump()) return std::nullopt;
    const JsonValue& values = root.member("values");
    if (values.type() != JsonType::Object) return std::nullopt;
    SettingMap out;
    for (const auto& [name, entry] : values.asObject()) {
        auto value = DecodeEntry(entry);
        if (!value) return std::nullopt;
        out.emplace(name, std::move(*value));
    }
    return out;
}

}  // namespace quillon::lnx
