#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "platform/win32/win32_text.h"

namespace quillon::win32 {

namespace {

// What one value holds, as the registry stores it.
struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::optional<RawValue> ReadRaw(const std::string& subkey, const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(subkey).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::wstring valueName = Wide(name);
    RawValue value;
    LSTATUS status = ERROR_MORE_DATA;
    // The value may grow between the size query and the read: ask again until it fits.
    for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
        DWORD size = 0;
        status = RegQueryValueExW(key, valueName.c_str(), nullptr, &value.type, nullptr, &size);
        if (status != ERROR_SUCCESS) break;
        value.data.resize(size);
        status = RegQueryValueExW(key, valueName.c_str(), nullptr, &value.type,
                                  value.data.empty() ? nullptr : value.data.data(), &size);
        value.data.resize(size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return value;
}

// A string value's text without the terminating null (or nulls) it is stored with.
std::string TextOf(const std::vector<BYTE>& data) {
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return Narrow(text);
}

bool WriteRaw(const std::string& subkey, const std::string& name, DWORD type, const BYTE* data,
              DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, Wide(subkey).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const bool ok = RegSetValueExW(key, Wide(name).c_str(), 0, type, data, size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// A string with its terminating null, as string values are stored.
bool WriteText(const std::string& subkey, const std::string& name, DWORD type,
               const std::string& text) {
    const std::wstring wide = Wide(text);
    return WriteRaw(subkey, name, type, reinterpret_cast<const BYTE*>(wide.c_str()),
                    static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
}

bool RemoveValue(const std::string& subkey, const std::string& name) {
    HKEY key = nullptr;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_CURRENT_USER, Wide(subkey).c_str(), 0, KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return true;  // no key, so no value either
    if (opened != ERROR_SUCCESS) return false;
    const LSTATUS status = RegDeleteValueW(key, Wide(name).c_str());
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

std::optional<SettingValue> Win32Settings::Read(const std::string& name) {
    const std::optional<RawValue> raw = ReadRaw(subkey_, name);
    if (!raw) return std::nullopt;
    SettingValue out;
    switch (raw->type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            out.type = raw->type == REG_SZ ? SettingType::String : SettingType::ExpandableString;
            out.text = TextOf(raw->data);
            return out;
        case REG_BINARY:
            out.type = SettingType::Binary;
            out.bytes.assign(raw->data.begin(), raw->data.end());
            return out;
        case REG_DWORD:
            if (raw->data.size() != sizeof(DWORD)) return std::nullopt;
            out.type = SettingType::Dword;
            std::memcpy(&out.dword, raw->data.data(), sizeof(DWORD));
            return out;
        default:
            return std::nullopt;  // a type the application never writes
    }
}

bool Win32Settings::Write(const std::string& name, const SettingValue& value) {
    switch (value.type) {
        case SettingType::String:
            return WriteText(subkey_, name, REG_SZ, value.text);
        case SettingType::ExpandableString:
            return WriteText(subkey_, name, REG_EXPAND_SZ, value.text);
        case SettingType::Binary:
            return WriteRaw(subkey_, name, REG_BINARY, value.bytes.data(),
                            static_cast<DWORD>(value.bytes.size()));
        case SettingType::Dword: {
            const DWORD dword = value.dword;
            return WriteRaw(subkey_, name, REG_DWORD, reinterpret_cast<const BYTE*>(&dword),
                            sizeof(dword));
        }
    }
    return false;
}

bool Win32Settings::Remove(const std::string& name) {
    return RemoveValue(subkey_, name);
}

std::optional<std::string> Win32Autostart::Read() {
    const std::optional<RawValue> raw = ReadRaw(subkey_, valueName_);
    if (!raw || (raw->type != REG_SZ && raw->type != REG_EXPAND_SZ)) return std::nullopt;
    return TextOf(raw->data);
}

bool Win32Autostart::Write(const std::string& commandLine) {
    return WriteText(subkey_, valueName_, REG_SZ, commandLine);
}

bool Win32Autostart::Remove() {
    return RemoveValue(subkey_, valueName_);
}

}  // namespace quillon::win32
