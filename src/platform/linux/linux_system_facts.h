// Readers behind the Linux System adapter: XDG folder rules, /proc/meminfo, the power supplies
// of /sys/class/power_supply and machine names. Pure functions (texts and values in, facts
// out) so that unit tests reach them without the machine; any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"

namespace quillon::lnx {

// Looks an environment variable up; nullopt when unset.
using EnvLookup = std::function<std::optional<std::string>(const char*)>;

// The folder for one kind of data: $XDG_CONFIG_HOME, $XDG_STATE_HOME, $XDG_CACHE_HOME or
// $XDG_DATA_HOME (each only when set to an absolute path, as the base-directory rules say),
// else ~/.config, ~/.local/state, ~/.cache or ~/.local/share; then "/quillon". Empty without
// either. A non-empty dataDir wins for all four.
std::string XdgAppFolder(AppFolder kind, const EnvLookup& env, const std::string& dataDir);
// The XDG configuration home itself (autostart entries live beneath it); empty when unknown.
std::string XdgConfigHome(const EnvLookup& env);

// The user's download folder: $XDG_DOWNLOAD_DIR when absolute, else the XDG_DOWNLOAD_DIR line
// of the user-dirs file (~/.config/user-dirs.dirs, its text given; "$HOME/..." expanded),
// else ~/Downloads. Empty without a home.
std::string XdgDownloadFolder(const EnvLookup& env, std::string_view userDirsText);

// MemTotal and MemAvailable (kB) of /proc/meminfo; load = 100 - available * 100 / total.
MemoryStatus ParseMeminfo(std::string_view text);

// One entry of /sys/class/power_supply.
struct PowerSupply {
    std::string type;    // "Mains", "USB", "Battery", ...
    std::string online;  // "1" or "0" for Mains/USB; may be empty
    std::string status;  // "Charging", "Discharging", "Full", ... for batteries
    std::string scope;   // "Device" for a mouse's or keyboard's battery
};
// 1 on mains (also when no battery is present at all), 0 on battery, 255 when the supplies
// do not say.
uint8_t AcLineStatusOf(const std::vector<PowerSupply>& supplies);

// uname's machine field as "x64", "x86", "arm64", "arm" or "unknown".
std::string ArchitectureOf(std::string_view machine);

// GTK_THEME names a dark variant ("Adwaita:dark"); desktop settings daemons are not consulted.
bool ThemeIsDark(std::string_view gtkTheme);

}  // namespace quillon::lnx
