// Discovery cycles on real worker threads while the UI thread ticks and resets: the run must be
// free of data races (this suite also runs under ThreadSanitizer) and end in a sound state.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "fakes/hooked_icmp.h"
#include "path/path_monitor.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::test {
namespace {

// A cycle that starts while a reset is half done (the path cleared, the registry not yet) must
// not trace with the old registry's generation: its path would be listed with no nodes.
TEST(PathConcurrency, CycleStartingDuringAResetSeesOnlyTheNewGeneration) {
    sim::WorldBuilder b;
    b.Seed(5)
        .Home()
        .Path(Ipv4Address(1, 1, 1, 1))
        .Hop(sim::kHomeGateway, 2)
        .Hop(Ipv4Address(203, 0, 113, 1), 10)
        .As(64500, "EXAMPLE-NET, ZZ")
        .Hop(Ipv4Address(1, 1, 1, 1), 14)
        .As(13335, "CLOUDFLARENET, US");
    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads(sim::ThreadMode::Inline);
    sim::SimNetwork network(b.Build(), clock);
    HookedIcmp icmp(network.icmp());
    PathMonitor monitor(PathPorts{clock, threads, icmp, network.netInfo(), network.dns(), system});
    monitor.Prober().OpenSharedHandle();
    monitor.AddDestinations(DefaultDestinations());
    for (int i = 0; i < 4; ++i) {
        monitor.MeasurementTick();
        clock.Advance(5000);
    }
    ASSERT_GT(monitor.Prober().TargetCount(), 0u);

    std::mutex mutex;
    std::condition_variable changed;
    bool echoReached = false, released = false;
    std::thread cycle;
    icmp.beforeEcho = [&] {
        std::unique_lock lock(mutex);
        echoReached = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
    };
    std::atomic<bool> started{false};
    icmp.onClose = [&] {
        // In the middle of the reset: a cycle starts on another thread and gets as far as it
        // can within a moment (with the fix, not past its start until the reset is done).
        if (started.exchange(true)) return;
        cycle = std::thread([&] { monitor.Discovery().RunDiscoveryCycle(); });
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::milliseconds(300), [&] { return echoReached; });
    };
    monitor.Discovery().ResetPathDiscovery();
    icmp.onClose = nullptr;
    {
        std::lock_guard lock(mutex);
        released = true;
    }
    changed.notify_all();
    cycle.join();
    icmp.beforeEcho = nullptr;

    ASSERT_TRUE(monitor.Discovery().PrimaryDone());
    const auto path = monitor.Path().Snapshot();
    ASSERT_EQ(path->size(), 3u);
    for (const HopRecord& hop : *path) {
        EXPECT_TRUE(monitor.Registry().GetNode(hop.address).has_value()) << hop.ttl;
    }
}

TEST(PathConcurrency, ResetsDuringRunningCyclesLeaveNoStaleState) {
    sim::WorldBuilder b;
    b.Seed(3)
        .Home()
        .Path(Ipv4Address(1, 1, 1, 1))
        .Hop(sim::kHomeGateway, 2)
        .NoAnswerHop()
        .Hop(Ipv4Address(203, 0, 113, 1), 10)
        .As(64500, "EXAMPLE-NET, ZZ")
        .Hop(Ipv4Address(1, 1, 1, 1), 14)
        .As(13335, "CLOUDFLARENET, US")
        .Path(Ipv4Address(8, 8, 8, 8))
        .SameHopsAs(Ipv4Address(1, 1, 1, 1), 3)
        .Hop(Ipv4Address(8, 8, 8, 8), 16)
        .As(15169, "GOOGLE, US");
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
        EXPECT_EQ(path->back().address, Ipv4Address(1, 1, 1, 1));
        for (const HopRecord& hop : *path) {
            if (!hop.address.IsZero()) {
                EXPECT_TRUE(monitor.Registry().GetNode(hop.address));
            }
        }
        EXPECT_EQ(monitor.Registry().NodeCount(), 4u);  // both paths, nothing stale
    }                                                   // the monitor waits for its workers
    EXPECT_GE(reports, 1);
}

}  // namespace
}  // namespace quillon::test
