// Settings: small typed per-user values kept under the application's own key (client id,
// telemetry credentials, dismissed updates). Values keep the registry's types so that stored
// data reads back the same on every platform. Writes are atomic: a value is either stored or
// the old one stays. Any thread may call; each call is serialised inside the adapter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon {

enum class SettingType : uint32_t {
    String = 1,          // REG_SZ
    ExpandableString = 2,  // REG_EXPAND_SZ
    Binary = 3,          // REG_BINARY
    Dword = 4,           // REG_DWORD
};

struct SettingValue {
    SettingType type = SettingType::String;
    std::string text;            // String and ExpandableString (UTF-8)
    std::vector<uint8_t> bytes;  // Binary
    uint32_t dword = 0;          // Dword
};

class Settings {
public:
    virtual ~Settings() = default;
    // The value stored under a name, or nothing when absent or unreadable.
    virtual std::optional<SettingValue> Read(const std::string& name) = 0;
    virtual bool Write(const std::string& name, const SettingValue& value) = 0;
    // True when the value is gone afterwards.
    virtual bool Remove(const std::string& name) = 0;
};

}  // namespace quillon
