// The network-change adapter: a played system that calls back at awkward moments (inside the
// registering call, from several threads while the subscription is destroyed, after cancelling),
// then the real IP Helper registrations under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32/win32_net_events.h"

namespace quillon::win32 {
namespace {

using namespace std::chrono_literals;

// What the played system was given and how it behaves; one test at a time uses it.
struct PlayedSystem {
    PIPFORWARD_CHANGE_CALLBACK routeCallback = nullptr;
    PIPINTERFACE_CHANGE_CALLBACK interfaceCallback = nullptr;
    void* context = nullptr;
    bool initialInsideCall = false;
    DWORD result = NO_ERROR;
    std::atomic<int> cancels{0};
};
PlayedSystem* played = nullptr;
const HANDLE kPlayedHandle = reinterpret_cast<HANDLE>(0x5150);

DWORD WINAPI PlayedNotifyRoute(ADDRESS_FAMILY family, PIPFORWARD_CHANGE_CALLBACK callback,
                               PVOID context, BOOLEAN initial, HANDLE* handle) {
    EXPECT_EQ(family, AF_INET);
    EXPECT_TRUE(initial);
    played->routeCallback = callback;
    played->context = context;
    if (played->result != NO_ERROR) return played->result;
    // Windows may deliver the initial notification before the handle is even written.
    if (played->initialInsideCall) callback(context, nullptr, MibInitialNotification);
    *handle = kPlayedHandle;
    return NO_ERROR;
}

DWORD WINAPI PlayedNotifyInterface(ADDRESS_FAMILY family, PIPINTERFACE_CHANGE_CALLBACK callback,
                                   PVOID context, BOOLEAN initial, HANDLE* handle) {
    EXPECT_EQ(family, AF_INET);
    EXPECT_TRUE(initial);
    played->interfaceCallback = callback;
    played->context = context;
    if (played->result != NO_ERROR) return played->result;
    *handle = kPlayedHandle;
    return NO_ERROR;
}

// Returns at once, without waiting for callbacks in progress: the adapter must not rely on it.
DWORD WINAPI PlayedCancel(HANDLE handle) {
    EXPECT_EQ(handle, kPlayedHandle);
    ++played->cancels;
    return NO_ERROR;
}

constexpr NetNotifyCalls kPlayedCalls{PlayedNotifyRoute, PlayedNotifyInterface, PlayedCancel};

TEST(Win32NetEvents, HandsOnWhatThePlayedSystemDelivers) {
    PlayedSystem system;
    played = &system;
    Win32NetEvents events(kPlayedCalls);

    system.initialInsideCall = true;
    std::vector<std::pair<NetChangeKind, NetChangeType>> seen;
    auto route = events.Subscribe(
        NetChangeKind::Route, [&](NetChangeKind k, NetChangeType t) { seen.emplace_back(k, t); },
        nullptr);
    ASSERT_NE(route, nullptr);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], std::make_pair(NetChangeKind::Route, NetChangeType::Initial));
    system.routeCallback(system.context, nullptr, MibDeleteInstance);
    system.routeCallback(system.context, nullptr, static_cast<MIB_NOTIFICATION_TYPE>(7));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].second, NetChangeType::Delete);
    EXPECT_EQ(static_cast<int>(seen[2].second), 7);  // the core names it "unknown"

    void* const routeContext = system.context;
    auto iface = events.Subscribe(
        NetChangeKind::Interface,
        [&](NetChangeKind k, NetChangeType t) { seen.emplace_back(k, t); }, nullptr);
    ASSERT_NE(iface, nullptr);
    EXPECT_NE(system.context, routeContext);
    system.interfaceCallback(system.context, nullptr, MibAddInstance);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[3], std::make_pair(NetChangeKind::Interface, NetChangeType::Add));

    // After cancelling, a late call from the system reaches nobody.
    route.reset();
    EXPECT_EQ(system.cancels.load(), 1);
    system.routeCallback(routeContext, nullptr, MibParameterNotification);
    EXPECT_EQ(seen.size(), 4u);

    // A refused registration passes the system's code on and leaves nothing registered.
    system.result = ERROR_NOT_SUPPORTED;
    uint32_t error = 0;
    bool called = false;
    EXPECT_EQ(
        events.Subscribe(
            NetChangeKind::Route, [&](NetChangeKind, NetChangeType) { called = true; }, &error),
        nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_NOT_SUPPORTED));
    system.routeCallback(system.context, nullptr, MibParameterNotification);
    EXPECT_FALSE(called);
    error = 0;
    EXPECT_EQ(events.Subscribe(NetChangeKind::Route, nullptr, &error), nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    iface.reset();
    EXPECT_EQ(system.cancels.load(), 2);
    played = nullptr;
}

// Several system threads keep calling back while another thread destroys the subscription: the
// destructor waits for the callback in progress, and nothing runs once it has returned.
TEST(Win32NetEvents, CancellationWaitsForCallbacksAndStopsThem) {
    PlayedSystem system;
    played = &system;
    Win32NetEvents events(kPlayedCalls);

    std::atomic<bool> listenerGone{false};
    std::atomic<int> calls{0};
    std::atomic<int> callsAfterGone{0};
    std::atomic<bool> holdCallback{true};
    std::atomic<bool> callbackHeld{false};
    auto subscription = events.Subscribe(
        NetChangeKind::Interface,
        [&](NetChangeKind, NetChangeType) {
            if (listenerGone) ++callsAfterGone;
            ++calls;
            if (holdCallback.exchange(false)) {
                callbackHeld = true;
                std::this_thread::sleep_for(300ms);
            }
        },
        nullptr);
    ASSERT_NE(subscription, nullptr);

    std::atomic<bool> stopSystem{false};
    std::vector<std::thread> systemThreads;
    for (int i = 0; i < 3; ++i) {
        systemThreads.emplace_back([&] {
            while (!stopSystem) {
                system.interfaceCallback(system.context, nullptr, MibParameterNotification);
                std::this_thread::yield();
            }
        });
    }
    while (!callbackHeld) std::this_thread::yield();

    std::atomic<bool> destroyed{false};
    std::thread canceller([&] {
        subscription.reset();
        listenerGone = true;
        destroyed = true;
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(destroyed) << "returned while a callback was still running";
    canceller.join();
    const int before = calls.load();
    std::this_thread::sleep_for(50ms);
    stopSystem = true;
    for (std::thread& t : systemThreads) t.join();

    EXPECT_GT(before, 1);
    EXPECT_EQ(calls.load(), before);
    EXPECT_EQ(callsAfterGone.load(), 0);
    EXPECT_EQ(system.cancels.load(), 1);
    played = nullptr;
}

// Under Wine the registrations are accepted or refused with a code; what is delivered is
// recorded, and whatever it is stops when the subscription goes, from any thread.
TEST(Win32NetEvents, RealRegistrationsRegisterAndCancelCleanly) {
    Win32NetEvents events;
    for (const NetChangeKind kind : {NetChangeKind::Route, NetChangeKind::Interface}) {
        std::atomic<int> initial{0};
        std::atomic<int> total{0};
        uint32_t error = 0;
        auto subscription = events.Subscribe(
            kind,
            [&](NetChangeKind seen, NetChangeType type) {
                EXPECT_EQ(seen, kind);
                if (type == NetChangeType::Initial) ++initial;
                ++total;
            },
            &error);
        if (!subscription) {
            EXPECT_NE(error, 0u) << "a refusal carries the system's code";
            continue;
        }
        std::this_thread::sleep_for(200ms);
        EXPECT_LE(initial.load(), 1);
        RecordProperty(kind == NetChangeKind::Route ? "routeInitial" : "interfaceInitial",
                       initial.load());
        std::thread([&subscription] { subscription.reset(); }).join();
        const int after = total.load();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(total.load(), after);
    }

    // Registering and cancelling from several threads at once.
    std::vector<std::thread> threads;
    std::atomic<int> refused{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&events, &refused, t] {
            for (int i = 0; i < 10; ++i) {
                uint32_t error = 0;
                auto s = events.Subscribe(
                    (t + i) % 2 == 0 ? NetChangeKind::Route : NetChangeKind::Interface,
                    [](NetChangeKind, NetChangeType) {}, &error);
                if (!s) ++refused;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    SUCCEED() << refused.load() << " of 40 registrations refused";
}

}  // namespace
}  // namespace quillon::win32
