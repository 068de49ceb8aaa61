#include "discovery/oui_database.h"

#include <filesystem>
#include <system_error>
#include <utility>

#include "base/fs_path.h"
#include "base/log.h"
#include "base/small_file.h"
#include "net/http_client.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/threads.h"

namespace quillon {

namespace {

namespace fs = std::filesystem;

std::optional<int64_t> WriteTimeUnix(const std::string& path) {
    std::error_code ec;
    const fs::file_time_type written = fs::last_write_time(FsPath(path), ec);
    if (ec) return std::nullopt;
    const auto system = std::chrono::file_clock::to_sys(written);
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

// The whole file, or nothing when it cannot be opened or read. Files beyond any real list's
// size are refused rather than read into memory.
std::optional<std::string> ReadWholeFile(const std::string& path) {
    return ReadSmallFile(path, kOuiMaxDownloadBytes).text;
}

}  // namespace

bool OuiRefreshDue(std::optional<int64_t> fileWrittenUnix, int64_t nowUnix) {
    if (!fileWrittenUnix) return true;
    const int64_t ageHours = (nowUnix - *fileWrittenUnix) / 3600;
    return ageHours > kOuiMaxAgeHours;
}

OuiDatabase::OuiDatabase(OuiDatabasePorts ports, std::vector<std::string> fallbackFiles,
                         std::string downloadUrl)
    : ports_(ports),
      fallbackFiles_(std::move(fallbackFiles)),
      downloadUrl_(std::move(downloadUrl)) {}

OuiDatabase::~OuiDatabase() {
    if (worker_) worker_->Join();
}

std::string OuiDatabase::CachePath() {
    const std::string folder = ports_.system.AppFolderPath(AppFolder::Cache);
    if (folder.empty()) return {};
    CreateDirectoryTree(folder);
    return folder + kPathSeparator + kOuiFileName;
}

OuiDatabase::FilesSeen OuiDatabase::LookAtFiles(const std::string& cachePath) const {
    FilesSeen seen;
    const auto look = [&](const std::string& path) {
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(FsPath(path), ec);
        seen.emplace_back(ec ? -1 : static_cast<int64_t>(size), WriteTimeUnix(path).value_or(-1));
    };
    look(cachePath);
    for (const std::string& path : fallbackFiles_) look(path);
    return seen;
}

void OuiDatabase::Load() {
    std::lock_guard lock(loadMutex_);
    if (loaded_) return;

    const std::string path = CachePath();
    FilesSeen seen = LookAtFiles(path);
    if (fruitless_ && *fruitless_ == seen) return;  // nothing changed since the last try

    const bool refreshDue =
        path.empty() || OuiRefreshDue(WriteTimeUnix(path), ports_.clock.UnixSeconds());
    std::shared_ptr<const OuiTable> table = ReadCacheFile(path);
    if (!table) table = ReadFallbackFiles();
    if (table) {
        fruitless_.reset();
        Install(std::move(table), false);
    } else {
        fruitless_ = std::move(seen);
        LogWrite(Warn, "OUI database not available - lookups will return empty");
    }

    // A download is stored before it is used, so without a file to store it in there is none.
    if (!refreshDue || downloadAttempted_ || path.empty() || ports_.http == nullptr ||
        ports_.files == nullptr) {
        return;
    }
    downloadAttempted_ = true;
    {
        std::lock_guard downloadLock(downloadMutex_);
        downloading_ = true;
    }
    worker_ = ports_.threads.StartJoinable([this, path] {
        Download(path);
        {
            std::lock_guard downloadLock(downloadMutex_);
            downloading_ = false;
        }
        downloadDone_.notify_all();
    });
    if (!worker_) {
        LogWrite(Error, "Failed to start the OUI database download");
        std::lock_guard downloadLock(downloadMutex_);
        downloading_ = false;
    }
}

std::shared_ptr<const OuiTable> OuiDatabase::ReadCacheFile(const std::string& path) {
    if (path.empty()) return nullptr;
    std::error_code ec;
    if (!fs::exists(FsPath(path), ec)) return nullptr;  // first run: the download brings it
    const std::optional<std::string> text = ReadWholeFile(path);
    if (!text) {
        LogWrite(Error, "Failed to open OUI database: %s", path.c_str());
        return nullptr;
    }
    size_t lines = 0;
    const std::vector<OuiEntry> entries = ParseOuiList(*text, &lines);
    auto table = std::make_shared<OuiTable>();
    table->Add(entries);
    LogWrite(Info, "OUI database parsed: %zu entries from %d lines", table->Size(),
             static_cast<int>(lines));
    if (table->Size() == 0) return nullptr;
    return table;
}

std::shared_ptr<const OuiTable> OuiDatabase::ReadFallbackFiles() {
    auto table = std::make_shared<OuiTable>();
    size_t filesRead = 0;
    for (const std::string& path : fallbackFiles_) {
        const std::optional<std::string> text = ReadWholeFile(path);
        if (!text) continue;
        table->Add(ParseIeeeRegistryText(*text));
        ++filesRead;
    }
    if (table->Size() == 0) return nullptr;
    LogWrite(Info, "OUI database fallback lists parsed: %zu entries from %zu files", table->Size(),
             filesRead);
    return table;
}

void OuiDatabase::Install(std::shared_ptr<const OuiTable> table, bool downloaded) {
    std::lock_guard lock(tableMutex_);
    // A look-up's reload must not put an older list back over a fresh download.
    if (hasDownloaded_ && !downloaded) return;
    table_ = std::move(table);
    hasDownloaded_ = hasDownloaded_ || downloaded;
    loaded_ = true;
}

std::shared_ptr<const OuiTable> OuiDatabase::Table() {
    std::lock_guard lock(tableMutex_);
    return table_;
}

void OuiDatabase::Download(const std::string& path) {
    LogWrite(Info, "Downloading OUI database from Wireshark...");
    HttpExchange exchange;
    exchange.url = downloadUrl_;
    exchange.maxBodyBytes = kOuiMaxDownloadBytes;
    const std::optional<HttpOutcome> outcome = ports_.http->Exchange(exchange);
    if (!outcome) {
        LogWrite(Error, "WinHttpOpen failed: %lu", static_cast<unsigned long>(kHttpErrorInternal));
        return;
    }
    if (!outcome->received) {
        // Nothing sent yet means the request never left; otherwise the answer failed.
        const char* format = outcome->timings.requestSentMs > 0
                                 ? "WinHttpReceiveResponse failed: %lu"
                                 : "WinHttpSendRequest failed: %lu";
        LogWrite(Error, format, static_cast<unsigned long>(outcome->error));
        return;
    }
    if (outcome->statusCode != 200) {
        LogWrite(Error, "OUI database download failed with status %lu",
                 static_cast<unsigned long>(outcome->statusCode));
        return;
    }
    const std::string& body = outcome->body;
    if (body.empty()) {
        LogWrite(Error, "OUI database response was empty");
        return;
    }
    if (outcome->bodyBytes > body.size()) {
        LogWrite(Error, "OUI database response too large: %llu bytes",
                 static_cast<unsigned long long>(outcome->bodyBytes));
        return;
    }
    // An answer that is not the list (a captive portal's page) must not replace a good file.
    size_t lines = 0;
    const std::vector<OuiEntry> entries = ParseOuiList(body, &lines);
    if (entries.empty()) {
        LogWrite(Error, "OUI database response held no entries (%d lines)",
                 static_cast<int>(lines));
        return;
    }
    const FileWriteResult written = ports_.files->ReplaceFile(path, body, false);
    if (!written.ok) {
        LogWrite(Error, "Failed to open cache file for writing: %s", path.c_str());
        return;
    }
    LogWrite(Info, "OUI database downloaded: %zu bytes", body.size());
    auto table = std::make_shared<OuiTable>();
    table->Add(entries);
    LogWrite(Info, "OUI database parsed: %zu entries from %d lines", table->Size(),
             static_cast<int>(lines));
    Install(std::move(table), true);
}

std::string OuiDatabase::GetVendor(std::string_view mac) {
    if (!loaded_) Load();
    if (mac.empty()) return {};
    const std::shared_ptr<const OuiTable> table = Table();
    if (!table) return {};
    const std::string* vendor = table->FindVendor(mac);
    return vendor ? *vendor : std::string();
}

std::optional<std::string> OuiDatabase::LookupPrefix(std::string_view hex) {
    const std::shared_ptr<const OuiTable> table = Table();
    if (!table) return std::nullopt;
    const std::string* vendor = table->LookupPrefix(hex);
    if (!vendor) return std::nullopt;
    return *vendor;
}

size_t OuiDatabase::EntryCount() {
    const std::shared_ptr<const OuiTable> table = Table();
    return table ? table->Size() : 0;
}

bool OuiDatabase::StopDownload(std::chrono::milliseconds bound) {
    {
        std::unique_lock lock(downloadMutex_);
        if (!downloadDone_.wait_for(lock, bound, [this] { return !downloading_; })) return false;
    }
    if (worker_) worker_->Join();
    worker_.reset();
    return true;
}

}  // namespace quillon
