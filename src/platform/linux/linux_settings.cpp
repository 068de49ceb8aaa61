#include "platform/linux/linux_settings.h"

#include <time.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/log.h"
#include "platform/linux/linux_files.h"

namespace quillon::lnx {

namespace {

namespace fs = std::filesystem;

std::string Timestamp() {
    const time_t now = time(nullptr);
    struct tm parts {};
    localtime_r(&now, &parts);
    char text[32];
    strftime(text, sizeof(text), "%Y%m%d-%H%M%S", &parts);
    return text;
}

}  // namespace

LinuxSettings::LinuxSettings(std::string folder) : folder_(std::move(folder)) {
    if (!folder_.empty()) path_ = (fs::path(folder_) / "settings.json").string();
}

SettingMap LinuxSettings::Load() {
    if (path_.empty()) return {};
    std::ifstream in(path_, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    if (auto values = DecodeSettings(text.str())) return std::move(*values);

    std::string aside = path_ + ".corrupt-" + Timestamp();
    std::error_code ec;
    for (int n = 2; fs::exists(aside, ec); ++n) {
        aside = path_ + ".corrupt-" + Timestamp() + "-" + std::to_string(n);
    }
    fs::rename(path_, aside, ec);
    LogWrite(LogLevel::Warn, "Settings file %s is damaged; kept as %s, starting afresh",
             path_.c_str(), ec ? "(could not be moved)" : aside.c_str());
    return {};
}

bool LinuxSettings::Store(const SettingMap& values) {
    if (path_.empty()) return false;
    std::error_code ec;
    fs::create_directories(folder_, ec);
    return ReplaceFileDurably(path_, EncodeSettings(values), true).ok;
}

std::optional<SettingValue> LinuxSettings::Read(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    SettingMap values = Load();
    const auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
}

bool LinuxSettings::Write(const std::string& name, const SettingValue& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    SettingMap values = Load();
    values[name] = value;
    return Store(values);
}

bool LinuxSettings::Remove(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    SettingMap values = Load();
    if (values.erase(name) == 0) return true;
    return Store(values);
}

}  // namespace quillon::lnx
