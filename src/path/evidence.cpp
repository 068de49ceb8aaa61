#include "path/evidence.h"

#include <algorithm>
#include <cmath>

#include "path/diagnosis.h"
#include "path/node_registry.h"

namespace quillon {

namespace {

// Latency and jitter intervals need a few round trips; a spread below the clock's 1 ms
// resolution is not believed.
constexpr int32_t kMinRttSamples = 3;
constexpr int32_t kMinJitterSamples = 5;
constexpr double kMinSpreadMs = 1.0;

enum class Finding { None, Impaired, Clean, Unsure };

double Threshold(Metric metric) {
    switch (metric) {
        case Metric::Latency: return kHighLatencyMs;
        case Metric::Loss: return kHighLossPercent / 100.0;
        case Metric::Jitter: return kHighJitterMs;
    }
    return 0;
}

Interval RttInterval(const HopEvidence& h) {
    const double spread = std::max(h.rttSd, kMinSpreadMs);
    const double half = kEvidenceZ * spread / std::sqrt(static_cast<double>(h.rttCount));
    return {h.rttMean - half, h.rttMean + half};
}

// The jitter figure scales with the spread; its relative error is that of a standard deviation.
Interval JitterInterval(const HopEvidence& h) {
    const double relative = kEvidenceZ / std::sqrt(2.0 * (h.rttCount - 1));
    return {h.rttMad * (1 - relative), h.rttMad * (1 + relative)};
}

// A hop against an absolute threshold: latency and jitter.
Finding Judge(const HopEvidence& h, Metric metric) {
    const int32_t needed = metric == Metric::Latency ? kMinRttSamples : kMinJitterSamples;
    if (h.rttCount == 0) return Finding::None;
    if (h.rttCount < needed) return Finding::Unsure;
    const Interval i = metric == Metric::Latency ? RttInterval(h) : JitterInterval(h);
    const double t = Threshold(metric);
    if (i.low >= t) return Finding::Impaired;
    if (i.high < t) return Finding::Clean;
    return Finding::Unsure;
}

double PointFigure(const HopEvidence& h, Metric metric) {
    switch (metric) {
        case Metric::Latency: return h.rttMean;
        case Metric::Loss: return h.samples == 0 ? 0 : double(h.losses) / h.samples;
        case Metric::Jitter: return h.rttMad;
    }
    return 0;
}

uint64_t EarliestNonZero(uint64_t a, uint64_t b) {
    if (a == 0) return b;
    if (b == 0) return a;
    return std::min(a, b);
}

uint64_t OnsetOf(const HopEvidence& h, Metric metric) {
    switch (metric) {
        case Metric::Latency: return h.firstSlowMs;
        case Metric::Loss: return h.firstLossMs;
        case Metric::Jitter: return h.firstJitterMs != 0 ? h.firstJitterMs : h.windowStartMs;
    }
    return 0;
}

// Log of the odds that a hop's echoes come from the run's loss rate rather than from a clean
// hop's background loss.
double SharedLossLogOdds(const HopEvidence& h, double runRate) {
    const double shared = std::clamp(runRate, kBackgroundLoss * 2, 0.99);
    return h.losses * std::log(shared / kBackgroundLoss) +
           (h.samples - h.losses) * std::log((1 - shared) / (1 - kBackgroundLoss));
}

// Loss: walking back from the end, each hop is compared with the pooled echoes of the end and
// the hops already in the run. Cleaner than the run ends it; lossier than the run is a router
// dropping its own answers (rate limiting), which later hops do not see; proven over the
// threshold and consistent joins the run; anything else is undecided.
Run FindLossRun(const std::vector<HopEvidence>& hops, int32_t end) {
    Run run;
    const double t = Threshold(Metric::Loss);
    const HopEvidence& last = hops[end];
    int32_t poolLosses = last.losses, poolSamples = last.samples;
    run.members.push_back(end);
    if (WilsonInterval(last.losses, last.samples).low >= t) run.start = end;
    std::vector<int32_t> gap;  // silent or undecided hops since the last one in the run
    for (int32_t i = end - 1; i >= 0; --i) {
        const HopEvidence& h = hops[i];
        if (h.samples == 0) continue;  // a silent hop says nothing and is never blamed
        const Interval own = WilsonInterval(h.losses, h.samples);
        const Interval ownWide = WilsonInterval(h.losses, h.samples, kSeparationZ);
        const Interval poolWide = WilsonInterval(poolLosses, poolSamples, kSeparationZ);
        // Sharing is weighed against the run's observed rate; being clean too, once the run has
        // echoes enough for its rate to be trusted, and before that against the lowest rate it
        // may have: a small run that looks lossier than it is cannot make a hop look clean.
        const double rate = double(poolLosses) / poolSamples;
        const double odds = SharedLossLogOdds(h, rate);
        const double cleanOdds =
            poolSamples >= kTrustedRunSamples
                ? odds
                : SharedLossLogOdds(h, WilsonInterval(poolLosses, poolSamples).low);
        if (own.high < t || ownWide.high < poolWide.low || cleanOdds <= -std::log(kCleanOdds)) {
            break;
        }
        if (ownWide.low > poolWide.high) {
            run.ownLoss.push_back(i);
            gap.push_back(i);
            continue;
        }
        if (own.low >= t || (rate >= t && odds >= std::log(kSharedOdds))) {
            poolLosses += h.losses;
            poolSamples += h.samples;
            run.members.push_back(i);
            run.start = i;
            run.onsetMs = EarliestNonZero(run.onsetMs, h.firstLossMs);
            gap.clear();
            continue;
        }
        if (PointFigure(h, Metric::Loss) >= t && !h.UsuallyLossy()) {
            run.suspected = true;  // a hop that is usually clean loses now
        }
        gap.push_back(i);
    }
    const Interval pool = WilsonInterval(poolLosses, poolSamples);
    if (last.samples > 0 && PointFigure(last, Metric::Loss) >= t) run.suspected = true;
    if (run.start == -1) return run;
    // The end itself must lose: hops before it cannot make a clean end impaired.
    run.impaired = pool.low >= t && PointFigure(last, Metric::Loss) >= t;
    run.level = pool.low;
    run.candidates = gap;
    run.candidates.push_back(run.start);
    run.onsetMs = EarliestNonZero(run.onsetMs, last.firstLossMs);
    return run;
}

// Latency and jitter: every hop is judged against the threshold on its own; the run is the
// impaired hops back from the end, ended by a hop proven below it.
Run FindThresholdRun(const std::vector<HopEvidence>& hops, int32_t end, Metric metric) {
    Run run;
    const HopEvidence& last = hops[end];
    run.suspected = last.rttCount > 0 && PointFigure(last, metric) >= Threshold(metric);
    if (Judge(last, metric) != Finding::Impaired) return run;
    run.start = end;
    std::vector<int32_t> gap;
    for (int32_t i = end - 1; i >= 0; --i) {
        const Finding f = Judge(hops[i], metric);
        if (f == Finding::None) continue;
        if (f == Finding::Clean) break;
        if (f == Finding::Impaired) {
            run.start = i;
            gap.clear();
        } else {
            gap.push_back(i);
        }
    }
    run.impaired = true;
    run.candidates = gap;
    run.candidates.push_back(run.start);
    run.onsetMs = EarliestNonZero(OnsetOf(hops[run.start], metric), OnsetOf(last, metric));
    return run;
}

}  // namespace

// With continuity correction: the plain score interval claims too much from a handful of
// echoes (one loss in five would "prove" 3 %).
Interval WilsonInterval(int32_t events, int32_t trials, double z) {
    if (trials <= 0) return {};
    const double n = trials;
    const double p = double(events) / n;
    const double z2 = z * z;
    const double denominator = 2 * (n + z2);
    Interval i;
    if (events > 0) {
        const double root = std::sqrt(std::max(0.0, z2 - 2 - 1 / n + 4 * p * (n * (1 - p) + 1)));
        i.low = std::max(0.0, (2 * n * p + z2 - 1 - z * root) / denominator);
    }
    if (events < trials) {
        const double root = std::sqrt(std::max(0.0, z2 + 2 - 1 / n + 4 * p * (n * (1 - p) - 1)));
        i.high = std::min(1.0, (2 * n * p + z2 + 1 + z * root) / denominator);
    }
    return i;
}

bool HopEvidence::UsuallyLossy() const {
    return priorSamples >= kEvidenceMinSamples &&
           priorLosses * 100 >= kHighLossPercent * priorSamples;
}

float HopEvidence::LossPercent() const {
    return samples == 0 ? 0.0f : float(losses) * 100.0f / float(samples);
}

HopEvidence ReduceEvidence(const std::vector<Sample>& samples, uint64_t nowMs,
                           uint64_t sinceMs) {
    HopEvidence h;
    h.times.reserve(samples.size());
    for (const Sample& s : samples) {
        h.times.push_back(s.timestampMs);
        if (s.timedOut) h.lastLossMs = s.timestampMs;
    }
    // The window: the last minute, stretched back to the last kEvidenceMinSamples.
    const size_t total = samples.size();
    size_t first = total;
    while (first > 0 && samples[first - 1].timestampMs >= sinceMs &&
           (nowMs - samples[first - 1].timestampMs <= kEvidenceWindowMs ||
            total - first < size_t(kEvidenceMinSamples))) {
        --first;
    }
    if (first == total) return h;
    h.windowStartMs = samples[first].timestampMs;
    double sum = 0;
    for (size_t i = first; i < total; ++i) {
        const Sample& s = samples[i];
        ++h.samples;
        if (s.timedOut) {
            ++h.losses;
            if (h.firstLossMs == 0) h.firstLossMs = s.timestampMs;
        } else if (s.rttMs != 0) {
            ++h.rttCount;
            sum += s.rttMs;
            if (h.firstSlowMs == 0 && s.rttMs >= kHighLatencyMs) h.firstSlowMs = s.timestampMs;
        }
    }
    if (h.rttCount == 0) return h;
    h.rttMean = sum / h.rttCount;
    double squares = 0, deviations = 0;
    for (size_t i = first; i < total; ++i) {
        const Sample& s = samples[i];
        if (s.timedOut || s.rttMs == 0) continue;
        const double d = s.rttMs - h.rttMean;
        squares += d * d;
        deviations += std::fabs(d);
        if (h.firstJitterMs == 0 && std::fabs(d) >= kHighJitterMs) h.firstJitterMs = s.timestampMs;
    }
    h.rttMad = deviations / h.rttCount;
    if (h.rttCount > 1) h.rttSd = std::sqrt(squares / (h.rttCount - 1));
    return h;
}

std::vector<HopEvidence> GatherEvidence(const HopList& path, const NodeRegistry& registry,
                                        uint64_t nowMs, uint64_t sinceMs) {
    std::vector<HopEvidence> hops(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i].address.IsZero()) continue;
        // One look at the node: its recent echoes, and what its window holds from before them.
        registry.ReadNode(path[i].address, [&](const PathNode& node) {
            HopEvidence& hop = hops[i];
            hop = ReduceEvidence(InTimeOrder(node.recent), nowMs, sinceMs);
            if (hop.samples == 0) return;
            const SampleWindow& window = node.samples;
            for (int32_t s = 0; s < window.count; ++s) {
                if (window.slots[s].timestampMs >= hop.windowStartMs) continue;
                ++hop.priorSamples;
                hop.priorLosses += window.slots[s].timedOut ? 1 : 0;
            }
        });
    }
    return hops;
}

int32_t LastMeasuredHop(const std::vector<HopEvidence>& hops) {
    int32_t last = static_cast<int32_t>(hops.size()) - 1;
    while (last >= 0 && hops[last].samples == 0) --last;
    return last;
}

Run FindRun(const std::vector<HopEvidence>& hops, Metric metric) {
    const int32_t end = LastMeasuredHop(hops);
    if (end < 0) return {};
    if (metric == Metric::Loss) return FindLossRun(hops, end);
    return FindThresholdRun(hops, end, metric);
}

int32_t CleanRunNeeded(double level) {
    if (level <= 0) return kCleanRunCap;
    if (level >= 1) return 1;
    const double needed = std::ceil(std::log(kClearChance) / std::log(1 - level));
    return static_cast<int32_t>(std::min<double>(needed, kCleanRunCap));
}

bool ProvenBelow(const std::vector<HopEvidence>& hops, Metric metric) {
    const int32_t end = LastMeasuredHop(hops);
    if (end < 0) return true;
    if (metric == Metric::Loss) {
        return PointFigure(hops[end], Metric::Loss) < Threshold(Metric::Loss);
    }
    const Finding f = Judge(hops[end], metric);
    return f == Finding::Clean || f == Finding::None;
}

bool LossEnded(const std::vector<HopEvidence>& hops, double level,
               const std::vector<int32_t>& affected, uint64_t* lastLossMs) {
    if (level <= 0 || affected.empty()) return false;
    // The echoes of every affected hop after the latest loss among them, pooled.
    const auto counted = [&](int32_t i) {
        return i >= 0 && i < static_cast<int32_t>(hops.size()) && hops[i].samples > 0;
    };
    uint64_t latestLoss = 0;
    for (const int32_t i : affected) {
        if (counted(i)) latestLoss = std::max(latestLoss, hops[i].lastLossMs);
    }
    int32_t clean = 0;
    for (const int32_t i : affected) {
        if (!counted(i)) continue;
        const std::vector<uint64_t>& t = hops[i].times;
        clean += static_cast<int32_t>(t.end() - std::upper_bound(t.begin(), t.end(), latestLoss));
    }
    if (lastLossMs != nullptr) *lastLossMs = latestLoss;
    return clean >= CleanRunNeeded(level);
}

}  // namespace quillon
