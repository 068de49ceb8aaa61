// PathMonitor: the path-measurement subsystem put together: node registry, current path, echo
// prober, name look-ups, discovery cycles, diagnosis hysteresis, the public address and the
// network state builder, over the platform's clock, threads, ICMP, network tables, DNS,
// sockets and system facts.
//
// The UI thread calls MeasurementTick on every tick of the measurement timer and posts the text
// it returns to the page. Discovery cycles run on detached workers started here; the monitor
// waits for them before it goes away. At shutdown Stop makes them (and the public address's
// worker) end early, waiting a bounded time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "discovery/name_lookups.h"
#include "discovery/public_ip_service.h"
#include "path/current_path.h"
#include "path/diagnosis.h"
#include "path/echo_prober.h"
#include "path/network_state.h"
#include "path/node_registry.h"
#include "path/path_discovery.h"
#include "path/ping_archive.h"

namespace quillon {

class Clock;
class Dns;
class IcmpApi;
class NetInfo;
class Sockets;
class System;
class Threads;

struct PathPorts {
    Clock& clock;
    Threads& threads;
    IcmpApi& icmp;
    NetInfo& netInfo;
    Dns& dns;
    System& system;
    // For the public address (STUN); null: it is never learned, and the ISP is named from the
    // path alone.
    Sockets* sockets = nullptr;
    StunServer stunServer = {kDefaultStunServer, kStunDefaultPort};
};

// The destinations traced when nobody names others: the first is the primary one.
std::vector<Destination> DefaultDestinations();

class PathMonitor {
public:
    explicit PathMonitor(PathPorts ports, EventSink trackEvent = {});
    ~PathMonitor();  // waits for discovery workers still running
    PathMonitor(const PathMonitor&) = delete;
    PathMonitor& operator=(const PathMonitor&) = delete;

    // Registers the destinations to trace and logs how many there are.
    void AddDestinations(const std::vector<Destination>& destinations);

    // One tick: starts a discovery cycle while stages are left and none runs, records the echo
    // replies that came in, sends the next sweep once the primary path is known and one is
    // due, and returns the network state message, or nothing when the tick brought nothing new
    // (a regular sweep went out, no echo came in and the path is the one last shown, shown less
    // than an interval ago: the tick that collects the sweep's echoes shows them a second
    // later). `regularMs` is the measurement interval of the window's mode: a sweep goes out
    // once per interval, and the page's sample windows take only those echoes. While the
    // verdict gathers evidence a sweep goes out twice a second; those echoes feed the
    // verdict's evidence alone.
    std::optional<std::string> MeasurementTick(uint32_t regularMs = kRegularTickMs);

    // When the next tick is due: shortly after a sweep, when its echoes have come back or
    // timed out (so the picture is never a whole interval old), then at the next regular
    // sweep; twice a second while the verdict gathers evidence of a suspected impairment.
    // Evidence is gathered for at most kMaxEvidenceRunMs at a stretch, then rests as long.
    uint32_t NextTickDelayMs(uint32_t regularMs = kRegularTickMs);
    bool GatheringEvidence() const { return evidenceSince_ != 0; }

    static constexpr uint32_t kRegularTickMs = 5000;
    static constexpr uint32_t kEvidenceTickMs = 500;
    // A sweep's echoes time out after a second; collected a little after that.
    static constexpr uint32_t kCollectDelayMs = 1100;
    static constexpr uint64_t kMaxEvidenceRunMs = 180000;
    static constexpr uint64_t kIcmpRetryMs = 60000;

    // Starts one discovery cycle on a detached worker; `then` runs on that worker after it.
    // False when no worker could be started.
    bool StartDiscoveryCycle(std::function<void()> then = {});

    // Shutdown, UI thread: no cycle starts any more, running cycles end before their next
    // probe and skip their `then`. Waits at most `bound` for them; false when one is still
    // running, in which case the monitor must not be destroyed (its destructor would wait).
    bool Stop(std::chrono::milliseconds bound);

    // Every regular echo and every change of the verdict goes to the archive from now on; null
    // stops it. UI thread; the archive must outlive the monitor or be taken away first.
    void SetArchive(PingArchive* archive) { archive_ = archive; }
    PingArchive* Archive() const { return archive_; }

    NodeRegistry& Registry() { return registry_; }
    CurrentPath& Path() { return currentPath_; }
    EchoProber& Prober() { return prober_; }
    NameLookups& Lookups() { return lookups_; }
    Hysteresis& HysteresisTable() { return hysteresis_; }
    PathDiscovery& Discovery() { return discovery_; }
    NetworkStateBuilder& StateBuilder() { return builder_; }
    // Null without sockets.
    PublicIpService* PublicIp() { return publicIp_.get(); }

private:
    // The builder's view of the public address: the service's record, empty without one.
    class PublicIpView final : public PublicIpSource {
    public:
        explicit PublicIpView(PublicIpService* service) : service_(service) {}
        PublicIpInfo GetPublicIpInfo() override {
            return service_ ? service_->GetPublicIpInfo() : PublicIpInfo{};
        }

    private:
        PublicIpService* service_;
    };

    std::string IcmpBlockedHint() const;
    // The archive's records of one tick: the echoes collected, with their hop numbers on the
    // traced paths, and the verdict when it changed.
    void ArchiveEchoes(const std::vector<ProbeResult>& echoes);
    void ArchiveVerdict();
    // Moves when the public address or a location changed: news for the page.
    uint64_t SourceChanges() {
        return (publicIp_ ? publicIp_->Changes() : 0) + builder_.SourceChanges();
    }

    PathPorts ports_;
    NodeRegistry registry_;
    CurrentPath currentPath_;
    EchoProber prober_;
    NameLookups lookups_;
    Hysteresis hysteresis_;
    PathDiscovery discovery_;
    std::unique_ptr<PublicIpService> publicIp_;  // uses lookups_; its destructor waits
    PublicIpView publicIpView_;
    NetworkStateBuilder builder_;

    // UI thread only.
    uint64_t lastSweep_ = 0;         // when the last sweep went out
    uint64_t lastRegularSweep_ = 0;  // ... and the last regular one
    bool lastSweepRegular_ = false;
    bool collected_ = true;       // the last sweep's echoes have been collected
    uint64_t evidenceSince_ = 0;  // 0: not gathering
    uint64_t evidenceRestUntil_ = 0;
    uint64_t lastIcmpAttempt_ = 0;
    uint64_t lastBuild_ = 0;
    uint64_t lastSourceChanges_ =
        0;  // what the last message showed of the public address and places
    std::shared_ptr<const HopList> lastBuiltPath_;  // the path the last message showed
    PingArchive* archive_ = nullptr;
    std::optional<VerdictRecord> lastArchivedVerdict_;

    std::mutex workersMutex_;
    std::condition_variable workersIdle_;
    size_t workers_ = 0;
};

}  // namespace quillon
