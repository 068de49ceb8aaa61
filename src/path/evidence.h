// Evidence: what the recent echoes of the path's hops can tell the verdict, and what they cannot
// tell yet. Each hop's echoes of the last half minute (at least its last 10) give an interval for its
// loss (Wilson score) and for its round trip and jitter. Walking back from the end of the path,
// the hops that are impaired and consistent with the end form a run; its first hop is the
// culprit only once every hop before it is known to be cleaner. docs/diagnosis.md explains the
// rules and their numbers.
//
// Pure functions over copies of the samples (GatherEvidence copies them out of the registry
// under its lock): no clock, no shared state. The diagnosis calls them on the UI thread.
#pragma once

#include <cstdint>
#include <vector>

#include "path/current_path.h"
#include "path/sample_window.h"

namespace quillon {

class NodeRegistry;

// The echoes the verdict reads: those of the last half minute, and at least the last 10 of a hop.
constexpr uint64_t kEvidenceWindowMs = 30000;
constexpr int32_t kEvidenceMinSamples = 10;
// One-sided 95 %: a hop is impaired when the lower end of its interval reaches the threshold.
constexpr double kEvidenceZ = 1.645;
// Two hops' losses differ only when their 99.5 % intervals part: the comparison is made anew
// twice a second, and chance differences between equally lossy hops must not move the blame.
constexpr double kSeparationZ = 2.576;
// Whether a hop shares the loss of the hops after it or is clean is also weighed as a
// likelihood ratio: its echoes under the run's loss rate against a clean hop's background loss.
// Sharing needs odds of 100 to 1, clean 10000 to 1: blaming a later hop wrongly is worse, and
// the question is asked anew twice a second.
constexpr double kBackgroundLoss = 0.005;
constexpr double kSharedOdds = 100;
constexpr double kCleanOdds = 10000;
constexpr int32_t kTrustedRunSamples = 40;
// Clearing: the clean echoes in a row must be this unlikely under the impairment's loss. The
// test is made after every lost echo, thousands of times in a long impairment, hence one in a
// million.
constexpr double kClearChance = 1e-6;
constexpr int32_t kCleanRunCap = 200;

struct Interval {
    double low = 0;
    double high = 1;
};
// Wilson score interval (with continuity correction) of the rate of `events` in `trials`;
// [0, 1] without trials.
Interval WilsonInterval(int32_t events, int32_t trials, double z = kEvidenceZ);

// One hop's echoes, reduced. A hop that never answered (or has no node) has no samples.
struct HopEvidence {
    int32_t samples = 0;  // in the evidence window
    int32_t losses = 0;
    int32_t rttCount = 0;  // answered with a round trip above 0 ms
    double rttMean = 0;
    double rttSd = 0;
    double rttMad = 0;  // mean absolute deviation: the jitter figure
    uint64_t firstLossMs = 0;  // in the window; 0 for none
    uint64_t firstSlowMs = 0;  // first round trip at or above the latency threshold, in the window
    uint64_t firstJitterMs = 0;  // first round trip far enough from the mean to count as jitter
    uint64_t windowStartMs = 0;
    uint64_t lastLossMs = 0;     // among every recent sample; 0 for none
    std::vector<uint64_t> times;  // every recent sample's time, oldest first
    // The hop's echoes before the window (of the long window the page shows): a hop that
    // lost answers before is not news when it loses some now.
    int32_t priorSamples = 0;
    int32_t priorLosses = 0;
    bool UsuallyLossy() const;

    float LossPercent() const;
};

// `sinceMs`: echoes before it are history (an impairment that was proven over) and stay out of
// the window.
HopEvidence ReduceEvidence(const std::vector<Sample>& oldestFirst, uint64_t nowMs,
                           uint64_t sinceMs = 0);
// One entry per hop of the path, in order.
std::vector<HopEvidence> GatherEvidence(const HopList& path, const NodeRegistry& registry,
                                        uint64_t nowMs, uint64_t sinceMs = 0);

enum class Metric { Latency, Loss, Jitter };

// The run of impaired hops at the end of the path for one metric.
struct Run {
    bool impaired = false;   // the end of the path is impaired
    bool suspected = false;  // a figure is over its threshold without the proof yet
    int32_t start = -1;      // earliest hop proven impaired and consistent with the end
    // Where the impairment may begin: the start and the undecided hops before it, up to the
    // hop proven cleaner (silent hops are never blamed). One element: the start is known.
    std::vector<int32_t> candidates;
    std::vector<int32_t> ownLoss;  // hops losing answers that later hops do not lose
    std::vector<int32_t> members;  // loss: the end and the hops proven to share its loss
    double level = 0;              // loss: lower end of the run's pooled loss rate
    uint64_t onsetMs = 0;          // first impaired echo of the start or the end in the window
};

Run FindRun(const std::vector<HopEvidence>& hops, Metric metric);

// Index of the last hop with samples; -1 when none has.
int32_t LastMeasuredHop(const std::vector<HopEvidence>& hops);

// A loss impairment of rate `level` (as last proven) shared by the hops `affected` has ended:
// their echoes after the latest loss among them are too many in a row for that rate.
// `lastLossMs` receives the time of that loss.
bool LossEnded(const std::vector<HopEvidence>& hops, double level,
               const std::vector<int32_t>& affected, uint64_t* lastLossMs);
// The end of the path is proven below the metric's threshold, or has nothing to judge it by.
bool ProvenBelow(const std::vector<HopEvidence>& hops, Metric metric);
// Clean echoes in a row after which a loss rate of `level` no longer explains them.
int32_t CleanRunNeeded(double level);

}  // namespace quillon
