// The measurement period from mode and power supply, with the 30 s reuse of a power sample.
#include "app/power_watcher.h"

#include <gtest/gtest.h>

#include "fakes/log_capture.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::test {
namespace {

class PowerWatcherTest : public ::testing::Test {
protected:
    sim::VirtualClock clock;
    sim::SimSystem system;
    TestLog log{system, clock};
    PowerWatcher watcher{clock, system};
};

TEST_F(PowerWatcherTest, PeriodsForEachModeAndSupply) {
    system.power = {false, 5, 1};  // chill mode never asks
    EXPECT_EQ(watcher.GetMeasurementInterval(false), 60000u);
    system.power = {true, 0, 1};
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 5000u);
    clock.Advance(30000);
    system.power = {true, 0, 255};
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 15000u);
    EXPECT_EQ(watcher.CachedState(), PowerState::Unknown);
    clock.Advance(30000);
    system.power = {true, 0, 0};
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 15000u);
    EXPECT_EQ(watcher.CachedState(), PowerState::Battery);
}

TEST_F(PowerWatcherTest, ASampleIsReusedFor30sAndChangesAreLoggedAfterTheFirst) {
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 5000u);  // Unknown -> AC: first, silent
    system.power.acLineStatus = 0;                           // charger unplugged
    clock.Advance(29999);
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 5000u);
    clock.Advance(1);
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 15000u);
    EXPECT_EQ(log.Lines({"Power state changed"}),
              std::vector<std::string>{"[INFO] Power state changed: AC -> Battery"});
}

TEST_F(PowerWatcherTest, AFailedQueryFallsBackToBatteryAndKeepsTheCache) {
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 5000u);
    clock.Advance(30000);
    system.power = {false, 21, 0};
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 15000u);
    EXPECT_EQ(watcher.CachedState(), PowerState::Ac);
    EXPECT_EQ(log.Count("[WARN] GetSystemPowerStatus failed: 21\r\n"), 1);
    // Retried at the next arming.
    system.power = {true, 0, 1};
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 5000u);
}

}  // namespace
}  // namespace quillon::test
