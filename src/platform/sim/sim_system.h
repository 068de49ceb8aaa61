// SimSystem: a System for tests. Its application folders live in a fresh temporary folder that
// is removed when the object goes; the other facts are plain fields a test sets. Folder paths
// use the platform's separator. Set the fields up before the code under test runs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/system.h"

namespace quillon::sim {

class SimSystem final : public System {
public:
    SimSystem();            // creates the temporary root folder
    ~SimSystem() override;  // removes it with everything in it

    // The temporary root; every application folder is this folder unless overridden.
    const std::string& Root() const { return root_; }
    // Overrides one folder; an empty path makes the folder undeterminable.
    void SetAppFolder(AppFolder kind, std::string path) { folders_[kind] = std::move(path); }

    std::string AppFolderPath(AppFolder kind) override;
    std::string DownloadsFolderPath() override { return downloadsFolder; }
    std::string ExecutablePath() override { return executablePath; }
    OsVersion GetOsVersion() override { return osVersion; }
    std::string Architecture() override { return architecture; }
    std::string ComputerName() override { return computerName; }
    DiskSpace SystemDiskSpace() override { return disk; }
    MemoryStatus GetMemoryStatus() override { return memory; }
    PowerStatus GetPowerStatus() override { return power; }
    bool PrefersDarkTheme() override { return darkTheme; }
    bool OpenUrl(const std::string& url) override;
    MessageBoxResult ShowMessageBox(const std::string& text, const std::string& caption,
                                    MessageBoxKind kind, MessageBoxButtons buttons) override;

    // Facts the test controls.
    std::string executablePath = "/opt/quillon/quillon";
    std::string downloadsFolder;  // empty: there is none
    OsVersion osVersion{"Linux", "6.1.0"};
    std::string architecture = "x64";
    std::string computerName = "SIM-PC";
    DiskSpace disk{true, 512ull << 30, 200ull << 30};
    MemoryStatus memory{true, 42, 16ull << 30, 9ull << 30};
    PowerStatus power{true, 0, 1};
    bool darkTheme = false;
    MessageBoxResult messageBoxAnswer = MessageBoxResult::Ok;

    // What the application asked for.
    struct ShownMessage {
        std::string text, caption;
        MessageBoxKind kind;
        MessageBoxButtons buttons;
    };
    std::vector<std::string> openedUrls;
    std::vector<ShownMessage> shownMessages;

private:
    std::string root_;
    std::map<AppFolder, std::string> folders_;
};

}  // namespace quillon::sim
