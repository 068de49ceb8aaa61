// SampleWindow: the rolling window of a path node's echo samples, one per measurement tick, and
// the figures computed from it (average round-trip time, loss, jitter) that the page shows.
// RecentSamples: every echo of the node, including the extra ones sent while an impairment is
// being looked into; the verdict's evidence is read from it (path/evidence.h).
// Both are owned by the node registry, which records into them and reads them under its own
// lock; they have no lock. Fixed storage: recording is constant time and never allocates.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quillon {

struct Sample {
    uint64_t timestampMs = 0;
    uint32_t rttMs = 0;  // 0 for a timed-out sample
    bool timedOut = false;
};

constexpr int32_t kSampleWindowSize = 360;

struct SampleWindow {
    std::array<Sample, kSampleWindowSize> slots{};
    int32_t count = 0;     // filled slots, 0..360 (slots 0..count-1)
    int32_t next = 0;      // slot written next
    int32_t timeouts = 0;  // timed-out samples among the filled slots
    // Kept up to date by RecordSample so that the figures need one pass less: the number of
    // valid samples (answered, above 0 ms) and the 32-bit sum of their round-trip times.
    uint32_t validCount = 0;
    uint32_t validSum = 0;
};

// The figures of a window, computed together in two passes over its slots.
struct WindowFigures {
    int32_t count = 0;  // samples in the window
    uint32_t averageRtt = 0;
    float lossPercent = 0;
    float jitter = 0;
};
WindowFigures ComputeFigures(const SampleWindow& window);

// The last kRecentCapacity echoes of a node, whatever their pace, oldest overwritten first.
constexpr int32_t kRecentCapacity = 128;
struct RecentSamples {
    std::array<Sample, kRecentCapacity> slots{};
    int32_t count = 0;
    int32_t next = 0;
};
void RecordRecent(RecentSamples& recent, uint64_t nowMs, uint32_t rttMs, bool timedOut);
// The samples oldest first.
std::vector<Sample> InTimeOrder(const RecentSamples& recent);

// Adds one sample, replacing the oldest once the window is full.
void RecordSample(SampleWindow& window, uint64_t nowMs, uint32_t rttMs, bool timedOut);

// Mean of the valid samples (answered, above 0 ms), truncated; 0 when there is none.
uint32_t AverageRtt(const SampleWindow& window);
// Timed-out samples as a percentage of all samples; 0 for an empty window.
float LossPercent(const SampleWindow& window);
// Mean absolute deviation of the valid round-trip times from their mean; 0 below two.
float Jitter(const SampleWindow& window);

}  // namespace quillon
