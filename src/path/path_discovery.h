// PathDiscovery: decides which destinations to trace and when. Each discovery cycle runs at
// most one stage (the primary destination, then the others, then re-probing hops that did not
// answer) on a short-lived worker, checks whether the home gateway changed, and reports the
// measured path to telemetry at most once a minute. Also owns the reset that forgets every
// discovered path after a network change.
//
// Threads: cycles run on discovery workers; the UI thread reads the stage flags and resets.
// Stage flags and the generation are changed together under one mutex: a reset starts a new
// generation, and a cycle that began before it drops its results instead of marking stages
// done. Only one cycle runs its stages at a time (`running` is taken atomically).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "path/traceroute.h"

namespace quillon {

class Clock;
class NetInfo;

// Receives telemetry events: (event type, UTF-8 JSON data).
using EventSink = std::function<void(const std::string&, const std::string&)>;

struct PathDiscoveryContext {
    Clock& clock;
    NetInfo& netInfo;
    NodeRegistry& registry;
    CurrentPath& currentPath;
    EchoProber& prober;
    NameLookups& lookups;
    EventSink trackEvent;
};

constexpr uint32_t kReprobeTimeoutMs = 10000;
constexpr uint64_t kReprobeIntervalMs = 15000;
constexpr uint64_t kPrimaryRetryIntervalMs = 60000;
constexpr uint64_t kMeasurementReportIntervalMs = 60000;

class PathDiscovery {
public:
    explicit PathDiscovery(PathDiscoveryContext context);

    // One cycle, blocking, on the calling worker.
    void RunDiscoveryCycle();
    // Forgets stages, the current path, echo targets, name caches and the registry's nodes.
    void ResetPathDiscovery();
    // Any thread, at shutdown: a running cycle ends before its next probe and no new one
    // starts. Never undone.
    void Stop() { stopping_ = true; }
    bool Stopping() const { return stopping_.load(); }

    bool PrimaryDone() const { return primaryDone_.load(); }
    bool SecondaryDone() const { return secondaryDone_.load(); }
    bool ReprobeDone() const { return reprobeDone_.load(); }
    bool AllStagesDone() const { return PrimaryDone() && SecondaryDone() && ReprobeDone(); }
    bool Running() const { return running_.load(); }
    // The primary traceroute finished without reaching its destination; it is being retried.
    bool DestinationUnreached() const { return destinationUnreached_.load(); }
    std::string RecordedGatewayMac() const;

private:
    struct CycleStart {
        uint64_t generation;
        TraceGenerations trace;
    };

    void CheckGateway();
    CycleStart Begin() const;
    // Marks a stage done unless a reset came in between. False when the cycle is stale.
    bool Complete(const CycleStart& start, std::atomic<bool>& flag);
    TraceContext Trace();

    void RunPrimaryStage(const CycleStart& start);
    void RunSecondaryStage(const CycleStart& start);
    void RunReprobeStage(const CycleStart& start);
    void ReportMeasurement();
    std::string MeasurementText() const;

    PathDiscoveryContext context_;

    mutable std::mutex stateMutex_;
    uint64_t generation_ = 0;
    std::string recordedGatewayMac_;
    uint64_t lastPrimaryAttempt_ = 0;

    std::atomic<bool> primaryDone_{false};
    std::atomic<bool> secondaryDone_{false};
    std::atomic<bool> reprobeDone_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> destinationUnreached_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> lastReprobe_{0};
    std::atomic<uint64_t> lastReport_{0};
};

}  // namespace quillon
