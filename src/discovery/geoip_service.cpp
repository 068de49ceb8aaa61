#include "discovery/geoip_service.h"

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

// Fresh for a year after it was fetched; an entry from the future (a clock set back) counts
// as fresh for at most a day more, so a garbage time cannot keep an entry forever.
bool Fresh(const GeoCacheEntry& entry, int64_t nowUnix) {
    const auto at = static_cast<int64_t>(std::min<uint64_t>(entry.cachedAt, INT64_MAX / 2));
    const int64_t age = nowUnix - at;
    return age > -86400 && age < static_cast<int64_t>(kGeoCacheLifetimeSeconds);
}

}  // namespace

GeoIpService::GeoIpService(GeoIpPorts ports, std::string server)
    : ports_(ports), server_(std::move(server)) {}

GeoIpService::~GeoIpService() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    queue_.clear();
    idle_.wait(lock, [this] { return !running_; });
}

std::string GeoIpService::CachePath() {
    const std::string folder = ports_.system.AppFolderPath(AppFolder::Cache);
    if (folder.empty()) return {};
    CreateDirectoryTree(folder);
    return folder + kPathSeparator + kGeoCacheFileName;
}

void GeoIpService::Initialize() {
    std::lock_guard lock(mutex_);
    InitializeLocked();
}

void GeoIpService::InitializeLocked() {
    if (initialized_) return;
    initialized_ = true;
    const std::string path = CachePath();
    if (!path.empty()) {
        const SmallFile file = ReadSmallFile(path, kMaxCacheFileBytes);
        std::optional<GeoCache> loaded;
        if (file.text) loaded = ParseGeoCache(*file.text);
        if (loaded) {
            cache_ = std::move(*loaded);
        } else if (file.error != SmallFileError::Missing) {
            // Kept for a person to look at, out of the way of the next save.
            std::error_code ec;
            std::filesystem::rename(FsPath(path), FsPath(path + ".corrupt"), ec);
            LogWrite(Warn, "GeoIP cache file is not a cache (%s) - set aside as %s.corrupt",
                     file.error == SmallFileError::TooLarge     ? "too large"
                     : file.error == SmallFileError::Unreadable ? "unreadable"
                                                                : "not valid JSON",
                     path.c_str());
        }
    }
    LogWrite(Info, "GeoIP service initialized with %zu cached entries", cache_.size());
}

GeoLocation GeoIpService::Lookup(const std::string& ipText) {
    if (IsPrivateOrReserved(ipText) || IsPublicResolver(ipText)) return {};
    const uint64_t now = ports_.clock.Tick64();
    {
        std::lock_guard lock(mutex_);
        InitializeLocked();
        if (const auto it = cache_.find(ipText);
            it != cache_.end() && Fresh(it->second, ports_.clock.UnixSeconds())) {
            return it->second.location;
        }
        if (stopping_ || ports_.http == nullptr || now < pausedUntil_) return {};
        for (const std::string& queued : queue_) {
            if (queued == ipText) return {};
        }
        if (const auto failed = failedAt_.find(ipText);
            failed != failedAt_.end() && now - failed->second < kRetryMs) {
            return {};
        }
        queue_.push_back(ipText);
        if (running_) return {};
        running_ = true;
    }
    if (!ports_.threads.StartDetached([this] { FetchQueued(); })) {
        std::lock_guard lock(mutex_);
        running_ = false;
        queue_.clear();
        idle_.notify_all();
        LogWrite(Error, "Failed to start GeoIP worker");
    }
    return {};
}

void GeoIpService::FetchQueued() {
    std::unique_lock lock(mutex_);
    while (!queue_.empty() && !stopping_) {
        const std::string ip = queue_.front();
        if (ports_.clock.Tick64() < pausedUntil_) break;  // rate limited: later lookups ask again
        lock.unlock();
        const GeoLocation location = Fetch(ip);
        lock.lock();
        if (!queue_.empty() && queue_.front() == ip) queue_.pop_front();
        if (!location.valid) {
            failedAt_[ip] = ports_.clock.Tick64();
            continue;
        }
        failedAt_.erase(ip);
        cache_[ip] = GeoCacheEntry{location, static_cast<uint64_t>(ports_.clock.UnixSeconds())};
        dirty_ = true;
        ++changes_;
        if (cache_.size() % 10 == 0) SaveLocked();
    }
    queue_.clear();
    running_ = false;
    idle_.notify_all();
}

GeoLocation GeoIpService::Fetch(const std::string& ipText) {
    if (ports_.http == nullptr) return {};
    LogWrite(Debug, "Fetching geolocation for %s", ipText.c_str());
    HttpRequest request;
    request.url = "https://" + server_ + "/" + ipText + "/json";
    request.timeoutMs = kTimeoutMs;
    request.maxBodyBytes = kMaxAnswerBytes + 1;
    const HttpResponse response = ports_.http->SendHttpRequest(request);
    if (response.statusCode == 429) {
        LogWrite(Warn, "GeoIP rate limited (429)");
        std::lock_guard lock(mutex_);
        pausedUntil_ = ports_.clock.Tick64() + kRateLimitedMs;
        return {};
    }
    if (response.statusCode != 200) {
        if (response.statusCode != 0) {
            LogWrite(Error, "GeoIP request failed with status %lu",
                     static_cast<unsigned long>(response.statusCode));
        }  // else the client logged why nothing came back
        return {};
    }
    if (response.body.size() > kMaxAnswerBytes) {
        LogWrite(Warn, "GeoIP answer for %s too large - ignored", ipText.c_str());
        return {};
    }
    GeoLocation location = ParseGeoAnswer(response.body);
    if (location.valid && location.ip != ipText) {
        // An answer about another address would put this one in the wrong place.
        LogWrite(Warn, "GeoIP answer for %s names %s - ignored", ipText.c_str(),
                 location.ip.c_str());
        return {};
    }
    if (!location.valid) LogWrite(Warn, "GeoIP answer for %s not understood", ipText.c_str());
    return location;
}

uint64_t GeoIpService::Changes() {
    std::lock_guard lock(mutex_);
    return changes_;
}

size_t GeoIpService::CachedCount() {
    std::lock_guard lock(mutex_);
    return cache_.size();
}

bool GeoIpService::SaveIfDirty() {
    std::lock_guard lock(mutex_);
    return !dirty_ || SaveLocked();
}

bool GeoIpService::SaveLocked() {
    const std::string path = CachePath();
    if (path.empty() || ports_.files == nullptr) return false;
    const FileWriteResult written =
        ports_.files->ReplaceFile(path, SerializeGeoCache(cache_), false);
    if (!written.ok) {
        LogWrite(Error, "Failed to save GeoIP cache: %s (error %d)", path.c_str(), written.error);
        return false;
    }
    dirty_ = false;
    LogWrite(Debug, "GeoIP cache saved: %zu entries", cache_.size());
    return true;
}

bool GeoIpService::Stop(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    queue_.clear();
    // Real time: this bounds how long a person waits for the process to end.
    return idle_.wait_for(lock, bound, [this] { return !running_; });
}

}  // namespace quillon
