// LinuxSettings: the Settings port over one JSON file, settings.json in the configuration
// folder. Every write replaces the whole file atomically (a temporary file written and synced,
// renamed over the old one, the folder synced), so a crash leaves either the old or the new
// file, never half of one. A file that cannot be read back exactly is moved aside as
// settings.json.corrupt-YYYYMMDD-HHMMSS with a log line, and a fresh one starts.
// Each call reads the file, so values written by another instance are seen. One mutex
// serialises the calls of this object; any thread may call.
#pragma once

#include <mutex>
#include <string>

#include "platform/linux/linux_settings_codec.h"
#include "platform/settings.h"

namespace quillon::lnx {

class LinuxSettings final : public Settings {
public:
    // folder: where settings.json lives (created on first write). Empty: nothing is stored.
    explicit LinuxSettings(std::string folder);

    std::optional<SettingValue> Read(const std::string& name) override;
    bool Write(const std::string& name, const SettingValue& value) override;
    bool Remove(const std::string& name) override;

    const std::string& FilePath() const { return path_; }

private:
    // The stored values; a damaged file is moved aside and counts as empty.
    SettingMap Load();
    bool Store(const SettingMap& values);

    std::mutex mutex_;
    std::string folder_;
    std::string path_;
};

}  // namespace quillon::lnx
