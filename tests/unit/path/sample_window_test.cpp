#include "path/sample_window.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

SampleWindow WindowOf(std::initializer_list<int> rtts) {  // -1 records a time-out
    SampleWindow w;
    uint64_t now = 0;
    for (const int rtt : rtts) RecordSample(w, now += 5000, rtt < 0 ? 0 : rtt, rtt < 0);
    return w;
}

TEST(SampleWindow, FiguresFollowTheDefinitions) {
    const SampleWindow three = WindowOf({10, 20, 30});
    EXPECT_EQ(AverageRtt(three), 20u);
    EXPECT_NEAR(Jitter(three), 20.0f / 3.0f, 1e-5);  // mean absolute deviation, not successive
    EXPECT_EQ(LossPercent(three), 0.0f);

    const SampleWindow truncated = WindowOf({10, 11});
    EXPECT_EQ(AverageRtt(truncated), 10u);
    EXPECT_FLOAT_EQ(Jitter(truncated), 0.5f);

    const SampleWindow mostlyLost = WindowOf({42, -1, -1, -1, -1, -1, -1, -1, -1, -1});
    EXPECT_EQ(AverageRtt(mostlyLost), 42u);
    EXPECT_FLOAT_EQ(LossPercent(mostlyLost), 90.0f);
    EXPECT_EQ(Jitter(mostlyLost), 0.0f);

    const SampleWindow allLost = WindowOf({-1, -1, -1});
    EXPECT_EQ(AverageRtt(allLost), 0u);
    EXPECT_EQ(Jitter(allLost), 0.0f);
    EXPECT_FLOAT_EQ(LossPercent(allLost), 100.0f);

    // A 0 ms answer is neither a loss nor a latency figure.
    const SampleWindow zero = WindowOf({0, 0, 8});
    EXPECT_EQ(AverageRtt(zero), 8u);
    EXPECT_EQ(LossPercent(zero), 0.0f);
    EXPECT_EQ(Jitter(zero), 0.0f);

    const SampleWindow empty;
    EXPECT_EQ(AverageRtt(empty), 0u);
    EXPECT_EQ(LossPercent(empty), 0.0f);
}

TEST(SampleWindow, RingKeepsTheLast360AndTheirTimeouts) {
    SampleWindow w;
    RecordSample(w, 1, 0, true);  // the oldest, pushed out by the 361st
    for (int i = 0; i < 360; ++i) RecordSample(w, 2 + i, 5, false);
    EXPECT_EQ(w.count, 360);
    EXPECT_EQ(w.timeouts, 0);
    EXPECT_EQ(w.next, 1);
    EXPECT_EQ(LossPercent(w), 0.0f);

    for (int i = 0; i < 36; ++i) RecordSample(w, 1000 + i, 0, true);
    EXPECT_EQ(w.timeouts, 36);
    EXPECT_FLOAT_EQ(LossPercent(w), 10.0f);
    for (int i = 0; i < 360; ++i) RecordSample(w, 2000 + i, 7, false);
    EXPECT_EQ(w.timeouts, 0);
    EXPECT_EQ(AverageRtt(w), 7u);
}

}  // namespace
}  // namespace quillon
