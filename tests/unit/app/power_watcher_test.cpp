// The measurement period from mode and power supply, with the 30 s reuse of a power sample.
#include "app/power_watcher.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "base/log.h"
#include "platform/log_environment.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::test {
namespace {

class PowerWatcherTest : public ::testing::Test {
protected:
    void SetUp() override { InitializeLogging(system, clock); }
    void TearDown() override { ShutdownLogging(); }
    std::string Log() {
        std::ifstream in(GetCurrentLogPath(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    sim::VirtualClock clock;
    sim::SimSystem system;
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
    const std::string log = Log();
    EXPECT_EQ(log.find("Power state changed: Unknown"), std::string::npos);
    EXPECT_NE(log.find("[INFO] Power state changed: AC -> Battery\r\n"), std::string::npos);
}

TEST_F(PowerWatcherTest, AFailedQueryFallsBackToBatteryAndKeepsTheCache) {
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 5000u);
    clock.Advance(30000);
    system.power = {false, 21, 0};
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 15000u);
    EXPECT_EQ(watcher.CachedState(), PowerState::Ac);
    EXPECT_NE(Log().find("[WARN] GetSystemPowerStatus failed: 21\r\n"), std::string::npos);
    // Retried at the next arming.
    system.power = {true, 0, 1};
    EXPECT_EQ(watcher.GetMeasurementInterval(true), 5000u);
}

}  // namespace
}  // namespace quillon::test
