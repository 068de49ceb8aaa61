// Discovery cycles on real worker threads while the UI thread ticks and resets: the run must be
// free of data races (this suite also runs under ThreadSanitizer) and end in a sound state.
#include <gtest/gtest.h>

#include "path/path_monitor.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::test {
namespace {

using sim::Ipv4;

TEST(PathConcurrency, ResetsDuringRunningCyclesLeaveNoStaleState) {
    sim::WorldBuilder b;
    b.Seed(3).Home()
        .Path(Ipv4(1, 1, 1, 1))
        .Hop(sim::kHomeGateway, 2)
        .NoAnswerHop()
        .Hop(Ipv4(203, 0, 113, 1), 10).As(64500, "EXAMPLE-NET, ZZ")
        .Hop(Ipv4(1, 1, 1, 1), 14).As(13335, "CLOUDFLARENET, US")
        .Path(Ipv4(8, 8, 8, 8))
        .SameHopsAs(Ipv4(1, 1, 1, 1), 3)
        .Hop(Ipv4(8, 8, 8, 8), 16).As(15169, "GOOGLE, US");
    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads(sim::ThreadMode::Threaded);
    sim::SimNetwork network(b.Build(), clock);
    int reports = 0;
    {
        PathMonitor monitor(
            PathPorts{clock, threads, network.icmp(), network.netInfo(), network.dns(), system},
            [&reports](const std::string&, const std::string&) { ++reports; });
        monitor.Prober().OpenSharedHandle();
        monitor.AddDestinations(DefaultDestinations());

        for (int i = 0; i < 300; ++i) {
            monitor.MeasurementTick();
            if (i % 7 == 3) {
                monitor.HysteresisTable().ResetHysteresis();
                monitor.Discovery().ResetPathDiscovery();
                monitor.StartDiscoveryCycle();
            }
            clock.Advance(500);
        }
        threads.WaitIdle();

        // Whatever the interleaving, a quiet network settles into one complete discovery.
        for (int i = 0; i < 20 && !monitor.Discovery().AllStagesDone(); ++i) {
            monitor.MeasurementTick();
            threads.WaitIdle();
            clock.Advance(5000);
        }
        ASSERT_TRUE(monitor.Discovery().AllStagesDone());
        const auto path = monitor.Path().Snapshot();
        ASSERT_EQ(path->size(), 4u);
        EXPECT_EQ(path->back().address, Ipv4(1, 1, 1, 1));
        for (const HopRecord& hop : *path) {
            if (hop.address != 0) {
                EXPECT_TRUE(monitor.Registry().GetNode(hop.address));
            }
        }
        EXPECT_EQ(monitor.Registry().NodeCount(), 4u);  // both paths, nothing stale
    }  // the monitor waits for its workers
    EXPECT_GE(reports, 1);
}

}  // namespace
}  // namespace quillon::test
