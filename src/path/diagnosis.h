// Diagnosis: judges the current path from its hops' recent evidence (path/evidence.h): is the
// connection impaired, which segment is to blame, and what the user should be told. A
// per-segment hysteresis damps the verdict (shown only after the impairment lasted 10 s, shown
// as stabilising for 15 s after it ended); then each segment's status and the overall status
// are derived. While the evidence proves an impairment but not yet where it starts, the
// segment confirmed before stays, or a "checking" callout says so: never "healthy".
// Runs on the UI thread each time the network state is built; the hysteresis has no lock.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "base/ipv4.h"
#include "path/current_path.h"
#include "path/evidence.h"
#include "path/segment.h"

namespace quillon {

class Clock;
class NodeRegistry;

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
    SegmentStatus status = SegmentStatus::Unknown;
    float rttMs = 0, lossPercent = 0, jitterMs = 0;
};

HealthAssessment AssessHealth(const HopFigures& figures);

// The segment a hop of the path (index within it) belongs to.
Segment SegmentOfHop(const HopList& path, size_t index);

// What the end of the path shows: proven impaired, proven clear, or not yet known.
enum class EndToEnd { Clear, Unsure, Impaired };

// Why a verdict was reached, in figures the user can check in the hop table: the hop blamed
// (when one is), the metric that set the verdict off and its figure there, that hop's recent
// figures, and since when the verdict has been shown. The diagnosis fills in all but the time,
// which the state builder adds as it writes the verdict.
struct VerdictReason {
    int32_t hopNumber = -1;  // the blamed hop's number (time-to-live); -1: no hop is blamed
    Ipv4Address ip;          // the blamed hop's address
    std::string trigger;     // "loss", "latency", "jitter" or "unreachable"; empty: none
    float value = 0;         // the trigger's figure: percent for loss, ms for the others
    // The recent figures of the hop the value was read at (the blamed hop, or the start of
    // the impairment while its place is not settled).
    float rttMs = 0, lossPercent = 0, jitterMs = 0;
    int64_t sinceUnix = 0;  // when the verdict was first shown, Unix seconds; 0: none shown
};

struct Diagnosis {
    bool hasIssue = false;  // the end of the path is proven impaired (or cannot be reached)
    HealthAssessment assessment;
    // Where each proven impairment starts (a hop index), when one is proven.
    std::optional<int32_t> latencyHop, lossHop, jitterHop;
    std::optional<int32_t> culpritHop;      // the earliest of them
    std::optional<Segment> culpritSegment;  // none while the evidence does not settle on one
    std::string title, description, remedy;
    VerdictReason reason;  // what set the verdict off; no time

    EndToEnd endToEnd = EndToEnd::Clear;
    bool unreached = false;            // the destination could not be traced at all
    bool suspected = false;            // a figure is over a threshold: worth measuring more often
    int32_t firstCandidate = -1;       // earliest hop the impairment may start at
    uint64_t onsetMs = 0;              // first impaired echo behind the verdict
    double lossLevel = 0;              // proven loss rate of the run (fraction), 0 when none
    std::vector<int32_t> ownLoss;      // hops whose lost answers later hops do not share
    std::vector<int32_t> lossMembers;  // the end and the hops proven to share its loss
    uint64_t lossEndedAt = 0;          // a proven loss ended with this echo: older ones are history
};

class Hysteresis;

// Judges a path from its hops' recent evidence. `destinationReached` is false while the
// primary traceroute has not reached its destination: the path is then known to be broken.
// The hysteresis lends what the verdict remembers of the impairment it is clearing.
Diagnosis Diagnose(const HopList& path, const std::vector<HopEvidence>& evidence,
                   bool destinationReached, const Hysteresis& memory);

// The damped verdict shown to the user.
struct Callout {
    bool show = false;
    SegmentStatus severity = SegmentStatus::Healthy;
    std::optional<Segment> segment;  // none when the place is not known
    std::string title, description, remedy;
    VerdictReason reason;  // travels with the callout, so a held verdict keeps its reason
};

// Per-segment damping of impairments.
class Hysteresis {
public:
    enum State : int32_t { kNone = 0, kPending = 1, kConfirmed = 2, kClearing = 3 };
    static constexpr uint64_t kEntryDelayMs = 10000;
    static constexpr uint64_t kExitDelayMs = 15000;

    explicit Hysteresis(Clock& clock) : clock_(clock) {}

    // Feeds one status of a segment and returns the status to show. A segment that starts
    // pending counts its entry delay from `onsetMs` when that is earlier (the impairment was
    // seen then; proving where it is took the time since).
    SegmentStatus UpdateHysteresis(Segment segment, SegmentStatus status, uint64_t onsetMs = 0);
    void ResetHysteresis();
    State StateOf(Segment segment) const;
    // Whether the segment is shown as impaired: confirmed, or clearing.
    bool Shown(Segment segment) const;
    bool AnyActive() const;  // some segment is pending, confirmed or clearing
    uint64_t Now() const;
    int64_t UnixNow() const;  // the same moment in Unix seconds

    // What the verdict remembers between builds; emptied with the table.
    struct Memory {
        double lossLevel = 0;           // the impairment's proven loss rate, for clearing
        std::vector<int32_t> affected;  // the hops proven to share it
        Callout shown;                  // the callout of the last build
        Callout confirmed;              // the last confirmed segment's callout
        uint64_t checkingSince = 0;
        uint64_t evidenceSince = 0;  // echoes before this belong to an impairment that ended
    };
    Memory memory;

private:
    struct Entry {
        State state = kNone;
        uint64_t since = 0;
    };
    Clock& clock_;
    std::array<Entry, kSegmentCount> entries_{};  // by Segment
};

// What the link looks like, for the "connection" segment's own status.
struct LinkFacts {
    bool wifiConnected = false;
    uint32_t signalQuality = 0;
    bool hasGateway = false;
};

struct Verdict {
    Callout callout;
    std::array<SegmentStatus, kSegmentCount> segmentStatus{};  // by Segment
    SegmentStatus overall = SegmentStatus::Unknown;

    SegmentStatus StatusOf(Segment segment) const {
        return segmentStatus[static_cast<size_t>(segment)];
    }
};

Verdict BuildVerdict(const Diagnosis& diagnosis, bool pathEmpty, const LinkFacts& link,
                     Hysteresis& hysteresis);

// The verdict while ICMP cannot be used at all: nothing is known; `remedy` says how to allow it.
Verdict NoIcmpVerdict(const LinkFacts& link, const std::string& remedy);

}  // namespace quillon
