// PathDiscovery: decides which destinations to trace and when. Each discovery cycle runs at
// most one stage (the primary destination, then the others, then re-probing hops that did not
// answer) on a short-lived worker, checks whether the home gateway changed, and reports the
// measured path to telemetry at most once a minute. Also owns the reset that forgets every
// discovered path after a network change.
//
// After the stages, holes of the current path (hops that never answered) are probed again once
// a minute each until they answer. It also keeps the one record of the home gateway's hardware
// address, seeded by the first discovery and used by the network-change handler as well.
//
// Threads: cycles run on discovery workers; the UI thread reads the stage flags and resets.
// A reset and the start of a cycle hold one mutex for their whole length: a reset starts a new
// generation of the stages, the current path and the registry together, and a cycle that
// began before it drops its results instead of marking stages done. Only one cycle runs its
// stages at a time (`running` is taken atomically).
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
// Holes are probed again this often, each, until they answer, with the traceroute's time-out:
// the long one of the first pass is not worth repeating every minute.
constexpr uint64_t kHoleReprobeIntervalMs = 60000;
// A destination that has never answered while hops beyond the home answer is taken for one
// that does not answer ping after this many traces (a minute apart).
constexpr int32_t kSilentDestinationTraces = 3;
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
    // The stages are done but a hole of the current path is due to be probed again.
    bool HolesDue() const;
    // A cycle is worth starting: a stage is left or holes are due, and none runs.
    bool CycleWanted() const { return !Running() && (!AllStagesDone() || HolesDue()); }
    bool SecondaryDone() const { return secondaryDone_.load(); }
    bool ReprobeDone() const { return reprobeDone_.load(); }
    bool AllStagesDone() const { return PrimaryDone() && SecondaryDone() && ReprobeDone(); }
    bool Running() const { return running_.load(); }
    // The primary traceroute finished without reaching its destination; it is being retried.
    bool DestinationUnreached() const { return destinationUnreached_.load(); }
    // The primary destination does not answer ping although the path to it does: the path
    // ends at its last answering hop, which the verdict judges instead.
    bool DestinationSilent() const { return destinationSilent_.load(); }

    // The home gateway's hardware address as last recorded; empty before the first discovery
    // or after the gateway vanished. The network-change handler records what it finds.
    std::string RecordedGatewayMac() const;
    void RecordGatewayMac(const std::string& mac);

    // Counts resets: it moves whenever discovery starts over (a new gateway, a refresh), so
    // what was learned about the network before may be stale.
    uint64_t Generation() const;

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
    // Probes every hole of the current path once; true when it ran (not rate limited).
    bool ReprobeHoles(const CycleStart& start, uint64_t minIntervalMs, uint32_t timeoutMs);
    void SeedGatewayMac();
    // Whether an unreached destination is one that does not answer ping; see DestinationSilent.
    bool LooksSilent(const HopList& hops, Ipv4Address destination);
    void ReportMeasurement();
    std::string MeasurementText() const;

    PathDiscoveryContext context_;

    mutable std::mutex stateMutex_;
    uint64_t generation_ = 0;
    std::string recordedGatewayMac_;
    uint64_t lastPrimaryAttempt_ = 0;
    int32_t unreachedTraces_ = 0;       // in a row, since the destination last answered
    bool destinationAnswered_ = false;  // ever, since the last reset

    std::atomic<bool> primaryDone_{false};
    std::atomic<bool> secondaryDone_{false};
    std::atomic<bool> reprobeDone_{false};
    std::atomic<bool> running_{false};
    std::atomic<bool> destinationUnreached_{false};
    std::atomic<bool> destinationSilent_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> lastReprobe_{0};
    std::atomic<uint64_t> lastReport_{0};
};

}  // namespace quillon
