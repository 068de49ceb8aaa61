#include "path/sample_window.h"

#include <cmath>

namespace quillon {

namespace {

bool IsValid(const Sample& s) { return !s.timedOut && s.rttMs != 0; }

}  // namespace

void RecordSample(SampleWindow& window, uint64_t nowMs, uint32_t rttMs, bool timedOut) {
    Sample& slot = window.slots[window.next];
    if (window.count == kSampleWindowSize && slot.timedOut) --window.timeouts;
    slot.timestampMs = nowMs;
    slot.rttMs = timedOut ? 0 : rttMs;
    slot.timedOut = timedOut;
    if (timedOut) ++window.timeouts;
    window.next = (window.next + 1) % kSampleWindowSize;
    if (window.count < kSampleWindowSize) ++window.count;
}

uint32_t AverageRtt(const SampleWindow& window) {
    uint32_t sum = 0;  // 32-bit on purpose: the figures are defined with this sum
    uint32_t valid = 0;
    for (int32_t i = 0; i < window.count; ++i) {
        if (IsValid(window.slots[i])) {
            sum += window.slots[i].rttMs;
            ++valid;
        }
    }
    return valid == 0 ? 0 : sum / valid;
}

float LossPercent(const SampleWindow& window) {
    if (window.count == 0) return 0.0f;
    return static_cast<float>(window.timeouts) / static_cast<float>(window.count) * 100.0f;
}

float Jitter(const SampleWindow& window) {
    if (window.count < 2) return 0.0f;
    uint32_t sum = 0;
    uint32_t valid = 0;
    for (int32_t i = 0; i < window.count; ++i) {
        if (IsValid(window.slots[i])) {
            sum += window.slots[i].rttMs;
            ++valid;
        }
    }
    if (valid < 2) return 0.0f;
    const float mean = static_cast<float>(sum) / static_cast<float>(valid);
    float deviation = 0.0f;
    for (int32_t i = 0; i < window.count; ++i) {
        if (IsValid(window.slots[i])) {
            deviation += std::fabs(static_cast<float>(window.slots[i].rttMs) - mean);
        }
    }
    return deviation / static_cast<float>(valid);
}

}  // namespace quillon
