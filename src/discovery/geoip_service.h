// GeoIpService: locates public IPv4 addresses (the computer's public address, the ISP's first
// router, the path's destination) through an IP-information web service over HTTPS, and keeps
// the answers in a cache file ("ip_geolocation_cache.json" in the cache folder) so that each
// address is asked for at most once a year.
//
// The network state builder asks on the UI thread on every build, so Lookup never waits for
// the network: it answers from the cache, and an address it does not know is queued for one
// worker that fetches the queue in order; Changes() moves when an answer lands so the next
// build shows it. Never looked up: private and reserved addresses and the public resolvers.
// A failed fetch is not cached; the address is tried again after kRetryMs (after a 429, every
// fetch waits kRateLimitedMs).
//
// The file is read once by Initialize (a file that is not a cache is renamed aside with
// ".corrupt" and logged), rewritten atomically through the Files port after every tenth new
// entry and by SaveIfDirty at shutdown.
//
// Threads: any thread may call; one mutex guards the cache and the queue and is released
// during a fetch. Stop, at shutdown, drops the queue and waits a bounded time for a fetch
// under way; the destructor waits for it without bound.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_map>

#include "discovery/geo_location.h"

namespace quillon {

class Clock;
class Files;
class HttpClient;
class System;
class Threads;

struct GeoIpPorts {
    System& system;
    Clock& clock;
    Threads& threads;
    Files* files = nullptr;      // null: the cache is never written
    HttpClient* http = nullptr;  // null: nothing is fetched, the cache still answers
};

// The service answers GET https://HOST/ADDRESS/json; only the request and its answer's members
// are fixed, so the host can be another (--geoip-server).
inline constexpr const char* kDefaultGeoIpServer = "ipinfo.io";
inline constexpr const char* kGeoCacheFileName = "ip_geolocation_cache.json";
// An entry is used for a year after it was fetched.
constexpr uint64_t kGeoCacheLifetimeSeconds = 31536000;

class GeoIpService {
public:
    // server: HOST[:PORT] of the information service.
    GeoIpService(GeoIpPorts ports, std::string server = kDefaultGeoIpServer);
    ~GeoIpService();  // waits for a fetch under way
    GeoIpService(const GeoIpService&) = delete;
    GeoIpService& operator=(const GeoIpService&) = delete;

    // Reads the cache file once; later calls do nothing.
    void Initialize();

    // The cached location (valid) or an empty one, queuing a fetch when the address may be
    // looked up and none is queued, running or waiting out a failure. Never blocks on the
    // network.
    GeoLocation Lookup(const std::string& ipText);
    // Counts answers stored, so that a caller can tell news apart.
    uint64_t Changes();

    // Writes the cache file when it changed since the last write. False when that failed.
    bool SaveIfDirty();

    // At shutdown: nothing more is fetched; waits at most `bound` for a fetch under way. False
    // when it is still running (the service and the HTTP client must then outlive it).
    bool Stop(std::chrono::milliseconds bound);

    // One request to the service, blocking: the location, valid when the service answered 200
    // with a location of this address.
    GeoLocation Fetch(const std::string& ipText);

    // "<cache folder>/ip_geolocation_cache.json", the folder created if missing; empty when
    // the folder cannot be determined.
    std::string CachePath();

    size_t CachedCount();

    static constexpr uint64_t kRetryMs = 5 * 60 * 1000;
    static constexpr uint64_t kRateLimitedMs = 15 * 60 * 1000;
    static constexpr uint32_t kTimeoutMs = 10000;
    // An answer is a few hundred bytes; more is not an answer.
    static constexpr size_t kMaxAnswerBytes = 64 * 1024;
    // A cache file is a few hundred bytes per address; a larger one is not ours.
    static constexpr uintmax_t kMaxCacheFileBytes = 8 * 1024 * 1024;

private:
    void FetchQueued();
    void InitializeLocked();
    bool SaveLocked();

    GeoIpPorts ports_;
    const std::string server_;

    std::mutex mutex_;
    std::condition_variable idle_;
    GeoCache cache_;
    bool initialized_ = false;
    bool dirty_ = false;
    std::deque<std::string> queue_;
    std::unordered_map<std::string, uint64_t> failedAt_;  // address -> tick of its last failure
    uint64_t pausedUntil_ = 0;                            // tick; rate limited until then
    bool running_ = false;                                // a worker is fetching
    bool stopping_ = false;
    uint64_t changes_ = 0;
};

}  // namespace quillon
