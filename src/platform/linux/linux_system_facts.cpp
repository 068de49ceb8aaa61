#include "platform/linux/linux_system_facts.h"

#include <charconv>
#include <cstdint>

namespace quillon::lnx {

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::optional<uint64_t> MeminfoKb(std::string_view text, std::string_view key) {
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!StartsWith(line, key) || line.size() <= key.size() || line[key.size()] != ':') {
            continue;
        }
        line.remove_prefix(key.size() + 1);
        while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
        uint64_t value = 0;
        const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (ec != std::errc() || ptr == line.data()) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

}  // namespace

std::string XdgConfigHome(const EnvLookup& env) {
    if (auto v = env("XDG_CONFIG_HOME"); v && StartsWith(*v, "/")) return *v;
    if (auto home = env("HOME"); home && StartsWith(*home, "/")) return *home + "/.config";
    return "";
}

std::string XdgAppFolder(AppFolder kind, const EnvLookup& env, const std::string& dataDir) {
    if (!dataDir.empty()) return dataDir;
    const char* variable = "XDG_CONFIG_HOME";
    const char* fallback = "/.config";
    switch (kind) {
        case AppFolder::Config:
            break;
        case AppFolder::State:
            variable = "XDG_STATE_HOME";
            fallback = "/.local/state";
            break;
        case AppFolder::Cache:
            variable = "XDG_CACHE_HOME";
            fallback = "/.cache";
            break;
        case AppFolder::Data:
            variable = "XDG_DATA_HOME";
            fallback = "/.local/share";
            break;
    }
    if (auto v = env(variable); v && StartsWith(*v, "/")) return *v + "/quillon";
    if (auto home = env("HOME"); home && StartsWith(*home, "/")) {
        return *home + fallback + "/quillon";
    }
    return "";
}

std::string XdgDownloadFolder(const EnvLookup& env, std::string_view userDirsText) {
    if (auto v = env("XDG_DOWNLOAD_DIR"); v && StartsWith(*v, "/")) return *v;
    const auto home = env("HOME");
    if (!home || !StartsWith(*home, "/")) return "";
    // Lines like XDG_DOWNLOAD_DIR="$HOME/Downloads"; the path is absolute or starts $HOME/.
    constexpr std::string_view kKey = "XDG_DOWNLOAD_DIR=\"";
    size_t at = 0;
    while (at < userDirsText.size()) {
        size_t end = userDirsText.find('\n', at);
        if (end == std::string_view::npos) end = userDirsText.size();
        const std::string_view line = userDirsText.substr(at, end - at);
        at = end + 1;
        if (!StartsWith(line, kKey)) continue;
        const std::string_view rest = line.substr(kKey.size());
        const size_t close = rest.find('"');
        if (close == std::string_view::npos) continue;
        const std::string_view value = rest.substr(0, close);
        if (StartsWith(value, "$HOME/")) return *home + std::string(value.substr(5));
        if (StartsWith(value, "/")) return std::string(value);
    }
    return *home + "/Downloads";
}

MemoryStatus ParseMeminfo(std::string_view text) {
    MemoryStatus out;
    const auto total = MeminfoKb(text, "MemTotal");
    const auto available = MeminfoKb(text, "MemAvailable");
    if (!total || !available || *total == 0 || *available > *total) return out;
    out.ok = true;
    out.totalPhysicalBytes = *total * 1024;
    out.availablePhysicalBytes = *available * 1024;
    out.loadPercent = static_cast<uint32_t>(100 - *available * 100 / *total);
    return out;
}

uint8_t AcLineStatusOf(const std::vector<PowerSupply>& supplies) {
    bool anyBattery = false;
    bool anyDischarging = false;
    bool anyCharging = false;
    bool anyExternalOnline = false;
    bool anyExternalKnown = false;
    for (const PowerSupply& s : supplies) {
        if (s.type == "Battery") {
            if (s.scope == "Device") continue;  // a peripheral's battery says nothing of ours
            anyBattery = true;
            anyDischarging |= s.status == "Discharging";
            anyCharging |=
                s.status == "Charging" || s.status == "Full" || s.status == "Not charging";
        } else if (s.type == "Mains" || s.type == "USB") {
            if (s.online == "1") anyExternalOnline = true;
            if (s.online == "0" || s.online == "1") anyExternalKnown = true;
        }
    }
    if (anyExternalOnline) return 1;
    if (!anyBattery) return 1;
    if (anyDischarging) return 0;
    if (anyExternalKnown) return 0;  // supplies listed, none online
    if (anyCharging) return 1;
    return 255;
}

std::string ArchitectureOf(std::string_view m) {
    if (m == "x86_64" || m == "amd64") return "x64";
    if (m == "i386" || m == "i486" || m == "i586" || m == "i686") return "x86";
    if (m == "aarch64" || m == "aarch64_be" || m == "arm64") return "arm64";
    if (StartsWith(m, "arm")) return "arm";
    return "unknown";
}

bool ThemeIsDark(std::string_view gtkTheme) {
    return gtkTheme.find(":dark") != std::string_view::npos;
}

}  // namespace quillon::lnx
