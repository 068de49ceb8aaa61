#include "platform/linux/linux_settings_codec.h"

#include <exception>

#include "base/base64.h"
#include "base/json_value.h"

namespace quillon::lnx {

namespace {

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
