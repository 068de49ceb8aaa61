// Win32System: the System port on Windows. Every application folder is %LOCALAPPDATA%\Quillon
// unless a data folder is given, which then holds everything. Facts come from the kernel,
// ntdll and the registry; URLs open with the shell; message boxes are the system's own.
// Any thread may call; nothing is cached.
#pragma once

#include <string>
#include <utility>

#include "platform/system.h"

namespace quillon::win32 {

struct Win32SystemOptions {
    std::string dataDir;  // non-empty: every application folder is this one
};

class Win32System final : public System {
public:
    Win32System() : Win32System(Win32SystemOptions{}) {}
    explicit Win32System(Win32SystemOptions options) : options_(std::move(options)) {}

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

private:
    Win32SystemOptions options_;
};

// The theme rule on a key of the current user's registry: dark when its "AppsUseLightTheme"
// value reads 0 or cannot be read; light when the key cannot be opened.
bool ThemeKeyIsDark(const std::string& subkey);

}  // namespace quillon::win32
