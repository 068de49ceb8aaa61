// System: facts about the computer and the user's session, and a few shell services.
// Used by the log (its folder), the archive, caches and settings files (their folders), the
// device details of the network state, identity, the power watcher and the update notice.
// Every query may fail; failures are reported in the result, never thrown.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

// Which kind of per-user data a folder holds. On Windows all four are the same folder; on
// Linux they follow the XDG base directories; a data-dir override puts them all in one place.
enum class AppFolder {
    Config,  // configuration, service definitions, settings
    State,   // logs and measurement data
    Cache,   // downloaded lists and look-up caches
    Data,    // protected secrets and saved credentials
};

struct OsVersion {
    std::string name;     // "Windows", "Linux"
    std::string version;  // e.g. "10.0.22631" or the kernel release
};

struct DiskSpace {
    bool ok = false;
    uint64_t totalBytes = 0;
    uint64_t freeBytesForUser = 0;  // what the calling user may still use
};

struct MemoryStatus {
    bool ok = false;
    uint32_t loadPercent = 0;  // 0..100
    uint64_t totalPhysicalBytes = 0;
    uint64_t availablePhysicalBytes = 0;
};

// The system's own view of the power supply.
struct PowerStatus {
    bool ok = false;
    uint32_t error = 0;          // system error code when !ok
    uint8_t acLineStatus = 255;  // 0 offline (battery), 1 online (mains), 255 unknown
};

enum class MessageBoxKind { Error, Information };
enum class MessageBoxButtons { Ok, OkCancel };
enum class MessageBoxResult { Ok, Cancel };

class System {
public:
    virtual ~System() = default;

    // The application's folder for one kind of data, without a trailing separator. Empty when
    // it cannot be determined (the caller then degrades the service that needed it).
    virtual std::string AppFolderPath(AppFolder kind) = 0;

    // The user's folder for downloaded files, where exports are saved; empty when unknown.
    virtual std::string DownloadsFolderPath() { return {}; }

    // Full path of the running executable; empty on failure.
    virtual std::string ExecutablePath() = 0;

    virtual OsVersion GetOsVersion() = 0;
    // Machine architecture text: "x64", "x86", "arm64", "arm" or "unknown".
    virtual std::string Architecture() = 0;
    virtual std::string ComputerName() = 0;

    // Figures for the volume that holds the system (C:\ on Windows, / on Linux).
    virtual DiskSpace SystemDiskSpace() = 0;
    virtual MemoryStatus GetMemoryStatus() = 0;
    virtual PowerStatus GetPowerStatus() = 0;

    // The user prefers a dark theme.
    virtual bool PrefersDarkTheme() = 0;

    // Opens a web address in the user's browser. False when nothing could be started.
    virtual bool OpenUrl(const std::string& url) = 0;

    // A modal message for the user; front ends without a desktop print it instead.
    virtual MessageBoxResult ShowMessageBox(const std::string& text, const std::string& caption,
                                            MessageBoxKind kind, MessageBoxButtons buttons) = 0;
};

}  // namespace quillon
