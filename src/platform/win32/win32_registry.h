// Win32Settings and Win32Autostart: the Settings port as values of the current user's key
// "Software\Quillon", and the Autostart port as the value "Quillon" of the current user's Run
// key. The registry serialises its own writes and a value is replaced whole, so neither keeps
// a lock. Tests give keys of their own. Any thread may call.
#pragma once

#include <string>
#include <utility>

#include "platform/autostart.h"
#include "platform/settings.h"

namespace quillon::win32 {

class Win32Settings final : public Settings {
public:
    explicit Win32Settings(std::string subkey = "Software\\Quillon") : subkey_(std::move(subkey)) {}

    std::optional<SettingValue> Read(const std::string& name) override;
    bool Write(const std::string& name, const SettingValue& value) override;
    bool Remove(const std::string& name) override;

private:
    std::string subkey_;
};

class Win32Autostart final : public Autostart {
public:
    explicit Win32Autostart(
        std::string subkey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
        std::string valueName = "Quillon")
        : subkey_(std::move(subkey)), valueName_(std::move(valueName)) {}

    std::optional<std::string> Read() override;
    bool Write(const std::string& commandLine) override;
    bool Remove() override;

private:
    std::string subkey_;
    std::string valueName_;
};

}  // namespace quillon::win32
