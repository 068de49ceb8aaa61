// OuiDatabase: the names of the makers behind hardware addresses, for the computer's adapter,
// the gateway and the WiFi access point. It keeps the downloaded vendor list
// ("oui_database.txt" in the application's cache folder), fetches a fresh copy when the file is
// missing or older than 30 days, and answers look-ups from an in-memory table. Until the first
// download has arrived it answers from the list the operating system ships, when the entry
// point names one (the IEEE registry's text files).
//
// Threads: Load runs on the UI thread at start-up and reads the files synchronously; a due
// download runs on one worker started through the Threads port (at most one per run) and swaps
// its table in under a lock. GetVendor may be called from any thread. Shutdown calls
// StopDownload, which waits a bounded time for the worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/oui_table.h"

namespace quillon {

class Clock;
class Files;
class HttpClient;
class System;
class Threads;
class Worker;

struct OuiDatabasePorts {
    System& system;
    Clock& clock;
    Threads& threads;
    Files* files = nullptr;      // null: a download is never stored, so never made
    HttpClient* http = nullptr;  // null: no download
};

// Where the list is fetched from; only the request and the file format are fixed.
inline constexpr const char* kOuiDownloadUrl =
    "https://www.wireshark.org/download/automated/data/manuf";
inline constexpr const char* kOuiFileName = "oui_database.txt";
// The file is refreshed when it is older than this many whole hours (30 days).
constexpr int64_t kOuiMaxAgeHours = 720;
// Far above the real list's few megabytes; a larger answer is not the list.
constexpr size_t kOuiMaxDownloadBytes = 32 * 1024 * 1024;

// A refresh is due when the file's last-write time is unknown (no file) or it is more than
// kOuiMaxAgeHours whole hours old. Times in Unix seconds.
bool OuiRefreshDue(std::optional<int64_t> fileWrittenUnix, int64_t nowUnix);

class OuiDatabase {
public:
    // fallbackFiles: IEEE registry text listings read while the downloaded list is missing or
    // empty; none in tests and simulated runs unless they name small ones.
    OuiDatabase(OuiDatabasePorts ports, std::vector<std::string> fallbackFiles,
                std::string downloadUrl = kOuiDownloadUrl);
    ~OuiDatabase();  // joins the download worker
    OuiDatabase(const OuiDatabase&) = delete;
    OuiDatabase& operator=(const OuiDatabase&) = delete;

    // Builds the table from the cached file (else the fallback lists) and starts the download
    // when one is due and none was tried in this run. Does nothing once loaded.
    void Load();

    // The maker of a hardware address in any notation; empty when unknown. While nothing is
    // loaded it tries Load again (which re-reads files that changed, never downloads twice).
    std::string GetVendor(std::string_view mac);
    // The vendor for normalised digits by the longest listed prefix.
    std::optional<std::string> LookupPrefix(std::string_view hex);

    bool Loaded() const { return loaded_; }
    size_t EntryCount();

    // Shutdown: waits at most `bound` for a download under way. False when it is still running;
    // the database (and the HTTP client it uses) must then outlive the process's end.
    bool StopDownload(std::chrono::milliseconds bound);

    // "<cache folder>/oui_database.txt", the folder created if missing; empty when the folder
    // cannot be determined.
    std::string CachePath();

private:
    // Size and last-write time of each file read; a fruitless load is retried only when these
    // change.
    using FilesSeen = std::vector<std::pair<int64_t, int64_t>>;

    FilesSeen LookAtFiles(const std::string& cachePath) const;
    std::shared_ptr<const OuiTable> ReadCacheFile(const std::string& path);
    std::shared_ptr<const OuiTable> ReadFallbackFiles();
    // Installs a table unless a downloaded one is in place already (`downloaded` replaces any).
    void Install(std::shared_ptr<const OuiTable> table, bool downloaded);
    std::shared_ptr<const OuiTable> Table();
    void Download(const std::string& path);

    OuiDatabasePorts ports_;
    const std::vector<std::string> fallbackFiles_;
    const std::string downloadUrl_;

    std::mutex loadMutex_;  // serialises Load
    bool downloadAttempted_ = false;
    std::optional<FilesSeen> fruitless_;  // what the last load without entries saw

    std::mutex tableMutex_;
    std::shared_ptr<const OuiTable> table_;
    bool hasDownloaded_ = false;
    std::atomic<bool> loaded_ = false;

    std::mutex downloadMutex_;
    std::condition_variable downloadDone_;
    bool downloading_ = false;
    std::unique_ptr<Worker> worker_;
};

}  // namespace quillon
