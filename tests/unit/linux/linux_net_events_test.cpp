// Live rtnetlink notifications. Changes are made with `ip` inside a private network namespace
// of a child process (which disappears with the child), so the machine's own tables are never
// touched; that needs root, and those tests are skipped otherwise.
#include "platform/linux/linux_net_events.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/linux/linux_netlink_parse.h"
#include "private_namespace.h"

namespace quillon::lnx {
namespace {

using namespace std::chrono_literals;

const NetlinkChange kRouteInitial{NetChangeKind::Route, NetChangeType::Initial};
const NetlinkChange kRouteAdd{NetChangeKind::Route, NetChangeType::Add};
const NetlinkChange kRouteDelete{NetChangeKind::Route, NetChangeType::Delete};
const NetlinkChange kRouteParameter{NetChangeKind::Route, NetChangeType::Parameter};
const NetlinkChange kInterfaceInitial{NetChangeKind::Interface, NetChangeType::Initial};
const NetlinkChange kInterfaceAdd{NetChangeKind::Interface, NetChangeType::Add};
const NetlinkChange kInterfaceDelete{NetChangeKind::Interface, NetChangeType::Delete};
const NetlinkChange kInterfaceParameter{NetChangeKind::Interface, NetChangeType::Parameter};

// Collects the changes one subscription reports, and on which threads.
class Recorder {
public:
    NetChangeCallback Callback() {
        return [this](NetChangeKind kind, NetChangeType type) {
            std::lock_guard lock(mutex_);
            changes_.push_back({kind, type});
            threads_.push_back(std::this_thread::get_id());
            arrived_.notify_all();
        };
    }

    // Waits until `change` is reported after the one the previous wait found; its position,
    // or -1.
    int WaitFor(const NetlinkChange& change) {
        std::unique_lock lock(mutex_);
        int found = -1;
        arrived_.wait_for(lock, 5s, [&] {
            for (size_t i = next_; i < changes_.size() && found < 0; ++i) {
                if (changes_[i] == change) found = static_cast<int>(i);
            }
            return found >= 0;
        });
        if (found >= 0) next_ = static_cast<size_t>(found) + 1;
        return found;
    }

    std::vector<NetlinkChange> Changes() {
        std::lock_guard lock(mutex_);
        return changes_;
    }
    std::thread::id ThreadOf(size_t index) {
        std::lock_guard lock(mutex_);
        return index < threads_.size() ? threads_[index] : std::thread::id();
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<NetlinkChange> changes_;
    std::vector<std::thread::id> threads_;
    size_t next_ = 0;
};

void Apply(const char* command) {
    ASSERT_EQ(std::system(command), 0) << command;
}

bool IsRoot() {
    return geteuid() == 0;
}

TEST(LinuxNetEvents, InitialNotificationComesBeforeSubscribeReturnsAndFailuresCarryErrno) {
    LinuxNetEvents events;
    Recorder recorder;
    uint32_t error = 0;
    auto subscription = events.Subscribe(NetChangeKind::Interface, recorder.Callback(), &error);
    ASSERT_NE(subscription, nullptr);
    EXPECT_EQ(recorder.Changes(), std::vector{kInterfaceInitial});
    EXPECT_EQ(recorder.ThreadOf(0), std::this_thread::get_id());
    // Nothing to read: the listener, settled in its wait, must be woken rather than waited out.
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    subscription.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 250ms);

    // With no descriptor left to open, the socket cannot be made: null, errno, no callback.
    const int lowest = dup(STDERR_FILENO);
    ASSERT_GE(lowest, 0);
    close(lowest);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    Recorder refused;
    auto none = events.Subscribe(NetChangeKind::Route, refused.Callback(), &error);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(EMFILE));
    EXPECT_TRUE(refused.Changes().empty());
}

TEST(LinuxNetEvents, ReportsChangesOfEachKindToEverySubscription) {
    if (!IsRoot()) GTEST_SKIP() << "changing routes in a private namespace needs root";
    testing::InPrivateNamespace("", [] {
        LinuxNetEvents events;
        Recorder routes, otherRoutes, interfaces;
        uint32_t error = 0;
        auto route = events.Subscribe(NetChangeKind::Route, routes.Callback(), &error);
        auto otherRoute = events.Subscribe(NetChangeKind::Route, otherRoutes.Callback(), &error);
        auto interface = events.Subscribe(NetChangeKind::Interface, interfaces.Callback(), &error);
        ASSERT_TRUE(route && otherRoute && interface) << error;

        Apply("ip route add 10.50.0.0/16 via 10.9.9.2");
        ASSERT_EQ(routes.WaitFor(kRouteAdd), 1);
        EXPECT_NE(routes.ThreadOf(1), std::this_thread::get_id()) << "not the listener thread";
        // Other tables and IPv6 say nothing; replacing a route is a parameter change.
        Apply(
            "ip route add table 100 10.51.0.0/16 via 10.9.9.2 && "
            "ip route add table local local 10.52.0.1 dev qla && "
            "ip -6 route add fd00:51::/64 dev qla && "
            "ip route replace 10.50.0.0/16 via 10.9.9.3");
        ASSERT_EQ(routes.WaitFor(kRouteParameter), 2);
        ASSERT_EQ(otherRoutes.WaitFor(kRouteParameter), 2);

        // One cancelled, the others go on.
        otherRoute.reset();
        Apply("ip route del 10.50.0.0/16");
        ASSERT_EQ(routes.WaitFor(kRouteDelete), 3);
        EXPECT_EQ(routes.Changes().size(), 4u);
        EXPECT_EQ(otherRoutes.Changes(), (std::vector{kRouteInitial, kRouteAdd, kRouteParameter}));

        // A new address also brings its prefix route into the main table.
        Apply("ip addr add 10.61.0.1/24 dev qla");
        EXPECT_GE(interfaces.WaitFor(kInterfaceAdd), 1);
        EXPECT_GE(routes.WaitFor(kRouteAdd), 4);
        Apply("ip link set qla down");
        EXPECT_GE(interfaces.WaitFor(kInterfaceParameter), 0) << "link down";
        Apply("ip addr del 10.61.0.1/24 dev qla");
        EXPECT_GE(interfaces.WaitFor(kInterfaceDelete), 0) << "address removed";
        Apply("ip link add qlc type veth peer name qld && ip link del qlc");
        EXPECT_GE(interfaces.WaitFor(kInterfaceDelete), 0) << "link removed";

        for (const NetlinkChange& change : routes.Changes()) {
            EXPECT_EQ(change.kind, NetChangeKind::Route);
        }
        for (const NetlinkChange& change : interfaces.Changes()) {
            EXPECT_EQ(change.kind, NetChangeKind::Interface);
        }
    });
}

TEST(LinuxNetEvents, CancellingDuringChangesIsPromptAndFinal) {
    if (!IsRoot()) GTEST_SKIP() << "changing routes in a private namespace needs root";
    testing::InPrivateNamespace("", [] {
        std::atomic<bool> churning{true};
        std::thread churn([&] {
            while (churning.load()) {
                [[maybe_unused]] const int status = std::system(
                    "ip route add 10.70.0.0/16 via 10.9.9.2 && ip addr add 10.71.0.1/24 dev qla "
                    "&& ip route del 10.70.0.0/16 && ip addr del 10.71.0.1/24 dev qla");
            }
        });

        LinuxNetEvents events;
        std::atomic<int> running{0};
        std::atomic<int> calls{0};
        std::atomic<int> lateCalls{0};
        std::atomic<bool> cancelled{false};
        int changesSeen = 0;
        for (int round = 0; round < 20; ++round) {
            cancelled = false;
            calls = 0;
            auto callback = [&](NetChangeKind, NetChangeType) {
                ++running;
                if (cancelled.load()) ++lateCalls;
                ++calls;
                std::this_thread::sleep_for(1ms);  // still inside when the cancel comes
                --running;
            };
            uint32_t error = 0;
            auto route = events.Subscribe(NetChangeKind::Route, callback, &error);
            auto interface = events.Subscribe(NetChangeKind::Interface, callback, &error);
            ASSERT_TRUE(route && interface);
            std::this_thread::sleep_for(std::chrono::milliseconds(5 + round));

            const auto start = std::chrono::steady_clock::now();
            route.reset();
            interface.reset();
            const auto took = std::chrono::steady_clock::now() - start;
            cancelled = true;
            EXPECT_EQ(running.load(), 0) << "a callback outlived its subscription";
            EXPECT_LT(took, 250ms) << "round " << round;
            changesSeen += calls.load() - 2;
        }
        std::this_thread::sleep_for(50ms);
        churning = false;
        churn.join();
        EXPECT_EQ(lateCalls.load(), 0);
        EXPECT_GT(changesSeen, 0) << "the churn never reached a subscription";
    });
}

TEST(LinuxNetEvents, OverrunIsReportedAsOneChangeAndListeningGoesOn) {
    if (!IsRoot()) GTEST_SKIP() << "changing routes in a private namespace needs root";
    testing::InPrivateNamespace("", [] {
        LinuxNetEvents events(1);  // the smallest queue the kernel allows
        Recorder recorder;
        std::mutex gateMutex;
        std::condition_variable gate;
        bool open = false;
        auto record = recorder.Callback();
        auto callback = [&](NetChangeKind kind, NetChangeType type) {
            record(kind, type);
            // Hold the listener on its first change while the queue overflows.
            std::unique_lock lock(gateMutex);
            gate.wait(lock, [&] { return open || type == NetChangeType::Initial; });
        };
        uint32_t error = 0;
        auto subscription = events.Subscribe(NetChangeKind::Route, callback, &error);
        ASSERT_NE(subscription, nullptr) << error;

        Apply("ip route add 10.80.0.0/24 dev qla");
        ASSERT_EQ(recorder.WaitFor(kRouteAdd), 1);
        Apply("for i in $(seq 1 200); do echo route add 10.81.$i.0/24 dev qla; done | ip -batch -");
        {
            std::lock_guard lock(gateMutex);
            open = true;
        }
        gate.notify_all();
        const int overrun = recorder.WaitFor(kRouteParameter);
        ASSERT_GT(overrun, 1);
        const auto changes = recorder.Changes();
        EXPECT_LT(changes.size(), 150u) << "the queue held everything: no overrun tested";
        for (size_t i = 2; i < changes.size(); ++i) {
            EXPECT_TRUE(changes[i] == kRouteAdd || i == static_cast<size_t>(overrun)) << i;
        }

        Apply("ip route del 10.80.0.0/24");
        EXPECT_GT(recorder.WaitFor(kRouteDelete), overrun);
    });
}

}  // namespace
}  // namespace quillon::lnx
