// Diagnosis: judges the current path from its hops' figures: is the connection impaired,
// which segment is to blame, and what the user should be told. A per-segment hysteresis damps
// the verdict (shown only after 10 s, shown as stabilising for 15 s after it ended); then each
// segment's status and the overall status are derived.
// Runs on the UI thread each time the network state is built; the hysteresis has no lock.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "path/current_path.h"

namespace quillon {

class Clock;
class NodeRegistry;

enum SegmentStatus : int32_t {
    kStatusHealthy = 0,
    kStatusWarning = 1,
    kStatusCritical = 2,
    kStatusUnknown = 3,
};

const char* StatusText(int32_t status);

// Segment identifiers of the path picture, in display order.
inline constexpr int kSegmentCount = 5;
inline constexpr std::array<const char*, kSegmentCount> kSegmentIds = {
    "device", "connection", "homeNetwork", "isp", "services"};

// Thresholds at or above which a figure is impaired, and at or above which it is critical.
inline constexpr float kHighLatencyMs = 150, kCriticalLatencyMs = 300;
inline constexpr float kHighLossPercent = 3, kCriticalLossPercent = 10;
inline constexpr float kHighJitterMs = 30, kCriticalJitterMs = 100;

// A hop's figures; hasFigures is false for a silent hop, a hop without a node, or a node
// without samples.
struct HopFigures {
    bool hasFigures = false;
    float rttMs = 0;
    float lossPercent = 0;
    float jitterMs = 0;
};

// The figures of every hop of a path, in order.
std::vector<HopFigures> GatherFigures(const HopList& path, const NodeRegistry& registry);

struct HealthAssessment {
    bool isHealthy = false;
    bool highLatency = false;
    bool highLoss = false;
    bool highJitter = false;
    int32_t status = kStatusUnknown;
    float rttMs = 0, lossPercent = 0, jitterMs = 0;
};

HealthAssessment AssessHealth(const HopFigures& figures);

enum class Metric { Latency, Loss, Jitter };

// Smallest index from which the metric stays at or above its threshold to the end of the path;
// hops without figures neither start nor break such a run. -1 when there is none.
int32_t SustainedStart(const std::vector<HopFigures>& figures, Metric metric);

// Segment identifier a hop of the path belongs to; "unknown" outside the path.
std::string SegmentIdForHop(const HopList& path, int32_t index);

struct Diagnosis {
    bool hasIssue = false;
    HealthAssessment assessment;
    int32_t latencyHop = -1, lossHop = -1, jitterHop = -1;
    std::string latencySegment, lossSegment, jitterSegment;
    int32_t culpritHop = -1;
    std::string culpritSegment;
    std::string title, description, remedy;
};

// Judges a path. `destinationReached` is false while the primary traceroute has not reached
// its destination: the path is then known to be broken whatever its hops' figures say.
Diagnosis Diagnose(const HopList& path, const std::vector<HopFigures>& figures,
                   bool destinationReached);

// Per-segment damping of impairments.
class Hysteresis {
public:
    enum State : int32_t { kNone = 0, kPending = 1, kConfirmed = 2, kClearing = 3 };
    static constexpr uint64_t kEntryDelayMs = 10000;
    static constexpr uint64_t kExitDelayMs = 15000;

    explicit Hysteresis(Clock& clock) : clock_(clock) {}

    // Feeds one status of a segment and returns the status to show.
    int32_t UpdateHysteresis(const std::string& segment, int32_t status);
    void ResetHysteresis();
    State StateOf(const std::string& segment) const;

private:
    struct Entry {
        State state = kNone;
        uint64_t since = 0;
    };
    Clock& clock_;
    std::unordered_map<std::string, Entry> entries_;
};

// The damped verdict shown to the user.
struct Callout {
    bool show = false;
    int32_t severity = kStatusHealthy;
    std::string segmentId;
    std::string title, description, remedy;
};

// What the link looks like, for the "connection" segment's own status.
struct LinkFacts {
    bool wifiConnected = false;
    uint32_t signalQuality = 0;
    bool hasGateway = false;
};

struct Verdict {
    Callout callout;
    std::array<int32_t, kSegmentCount> segmentStatus{};  // in kSegmentIds order
    std::string overallStatus;
};

Verdict BuildVerdict(const Diagnosis& diagnosis, bool pathEmpty, const LinkFacts& link,
                     Hysteresis& hysteresis);

}  // namespace quillon
