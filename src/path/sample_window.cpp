#include "path/sample_window.h"

#include <cmath>

namespace quillon {

namespace {

bool IsValid(const Sample& s) { return !s.timedOut && s.rttMs != 0; }

}  // namespace

void RecordSample(SampleWindow& window, uint64_t nowMs, uint32_t rttMs, bool timedOut) {
    Sample& slot = window.slots[window.next];
    if (window.count == kSampleWindowSize) {  // the oldest sample leaves the window
        if (slot.timedOut) --window.timeouts;
        if (IsValid(slot)) {
            --window.validCount;
            window.validSum -= slot.rttMs;
        }
    }
    slot.timestampMs = nowMs;
    slot.rttMs = timedOut ? 0 : rttMs;
    slot.timedOut = timedOut;
    if (timedOut) ++window.timeouts;
    if (IsValid(slot)) {
        ++window.validCount;
        window.validSum += slot.rttMs;
    }
    window.next = (window.next + 1) % kSampleWindowSize;
    if (window.count < kSampleWindowSize) ++window.count;
}

void RecordRecent(RecentSamples& recent, uint64_t nowMs, uint32_t rttMs, bool timedOut) {
    recent.slots[recent.next] = Sample{nowMs, timedOut ? 0 : rttMs, timedOut};
    recent.next = (recent.next + 1) % kRecentCapacity;
    if (recent.count < kRecentCapacity) ++recent.count;
}

std::vector<Sample> InTimeOrder(const RecentSamples& recent) {
    std::vector<Sample> out;
    out.reserve(recent.count);
    const int32_t first = recent.count < kRecentCapacity ? 0 : recent.next;
    for (int32_t i = 0; i < recent.count; ++i) {
        out.push_back(recent.slots[(first + i) % kRecentCapacity]);
    }
    return out;
}

WindowFigures ComputeFigures(const SampleWindow& window) {
    WindowFigures figures;
    figures.count = window.count;
    if (window.count == 0) return figures;
    figures.lossPercent =
        static_cast<float>(window.timeouts) / static_cast<float>(window.count) * 100.0f;

    const uint32_t sum = window.validSum;  // 32-bit on purpose: the figures use this sum
    const uint32_t valid = window.validCount;
    if (valid == 0) return figures;
    figures.averageRtt = sum / valid;
    if (window.count < 2 || valid < 2) return figures;

    // Jitter: mean absolute deviation from the mean, not a successive-difference estimate.
    const float mean = static_cast<float>(sum) / static_cast<float>(valid);
    float deviation = 0.0f;
    for (int32_t i = 0; i < window.count; ++i) {
        const float d = std::fabs(static_cast<float>(window.slots[i].rttMs) - mean);
        deviation += IsValid(window.slots[i]) ? d : 0.0f;  // branch-free: most are valid
    }
    figures.jitter = deviation / static_cast<float>(valid);
    return figures;
}

uint32_t AverageRtt(const SampleWindow& window) { return ComputeFigures(window).averageRtt; }

float LossPercent(const SampleWindow& window) { return ComputeFigures(window).lossPercent; }

float Jitter(const SampleWindow& window) { return ComputeFigures(window).jitter; }

}  // namespace quillon
