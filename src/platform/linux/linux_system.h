// LinuxSystem: the System port on Linux. Folders follow the XDG base directories
// (config, state, cache and data homes, each with a "quillon" folder) unless a data folder is
// given, which then holds everything. Facts come from /proc, /sys, uname and statvfs; URLs open
// with xdg-open (started directly, no shell); message boxes print to standard error, since the
// headless front end has no desktop to show them on, and answer with the default button.
// The environment is read through a lookup the caller may replace (tests do).
// Any thread may call; nothing is cached.
#pragma once

#include <string>

#include "platform/linux/linux_system_facts.h"
#include "platform/system.h"

namespace quillon::lnx {

struct LinuxSystemOptions {
    std::string dataDir;  // non-empty: every application folder is this one
    EnvLookup env;        // empty: the process environment
    std::string powerSupplyDir = "/sys/class/power_supply";
    std::string meminfoPath = "/proc/meminfo";
};

class LinuxSystem final : public System {
public:
    LinuxSystem() : LinuxSystem(LinuxSystemOptions{}) {}
    explicit LinuxSystem(LinuxSystemOptions options);

    std::string AppFolderPath(AppFolder kind) override;
    std::string DownloadsFolderPath() override;
    std::string ExecutablePath() override;
    OsVersion GetOsVersion() override;
    std::string Architecture() override;
    std::string ComputerName() override;
    DiskSpace SystemDiskSpace() override;
    MemoryStatus GetMemoryStatus() override;
    PowerStatus GetPowerStatus() override;
    bool PrefersDarkTheme() override;
    bool OpenUrl(const std::string& url) override;
    MessageBoxResult ShowMessageBox(const std::string& text, const std::string& caption,
                                    MessageBoxKind kind, MessageBoxButtons buttons) override;

    // The process environment as an EnvLookup.
    static EnvLookup ProcessEnvironment();

private:
    LinuxSystemOptions options_;
};

}  // namespace quillon::lnx
