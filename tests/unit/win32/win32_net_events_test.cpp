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
    std::vector<std::pair<NetChangeKind, NetChangeType>> seen;
    const auto record = [&](NetChangeKind k, NetChangeType t) { seen.emplace_back(k, t); };

    system.initialInsideCall = true;
    auto route = events.Subscribe(NetChangeKind::Route, record, nullptr);
    ASSERT_NE(route, nullptr);
    void* const routeContext = system.context;
    system.routeCallback(routeContext, nullptr, MibDeleteInstance);
    auto iface = events.Subscribe(NetChangeKind::Interface, record, nullptr);
    ASSERT_NE(iface, nullptr);
    system.interfaceCallback(system.context, nullptr, MibAddInstance);
    const std::vector<std::pair<NetChangeKind, NetChangeType>> expected = {
        {NetChangeKind::Route, NetChangeType::Initial},
        {NetChangeKind::Route, NetChangeType::Delete},
        {NetChangeKind::Interface, NetChangeType::Add}};
    EXPECT_EQ(seen, expected);

    // After cancelling, a late call from the system reaches nobody.
    route.reset();
    iface.reset();
    EXPECT_EQ(system.cancels.load(), 2);
    system.routeCallback(routeContext, nullptr, MibParameterNotification);
    EXPECT_EQ(seen.size(), 3u);

    // A refused registration passes the system's code on and leaves nothing registered.
    system.result = ERROR_NOT_SUPPORTED;
    uint32_t error = 0;
    EXPECT_EQ(events.Subscribe(NetChangeKind::Route, record, &error), nullptr);
    EXPECT_EQ(error, static_cast<uint32_t>(ERROR_NOT_SUPPORTED));
    system.routeCallback(system.context, nullptr, MibParameterNotification);
    EXPECT_EQ(seen.size(), 3u);
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

    // Whether the other threads got a call in while the first was held depends on the
    // scheduler; what counts is that none arrives once the subscription is gone.
    EXPECT_EQ(calls.load(), before);
    EXPECT_EQ(callsAfterGone.load(), 0);
    EXPECT_EQ(system.cancels.load(), 1);
    played = nullptr;
}

// Under Wine both calls are stubs that accept and never call back; whatever a system does,
// a registration is accepted or refused with a code and ends cleanly from another thread.
TEST(Win32NetEvents, RealRegistrationsRegisterAndCancelCleanly) {
    Win32NetEvents events;
    for (const NetChangeKind kind : {NetChangeKind::Route, NetChangeKind::Interface}) {
        std::atomic<int> calls{0};
        uint32_t error = 0;
        auto subscription = events.Subscribe(
            kind, [&](NetChangeKind, NetChangeType) { ++calls; }, &error);
        if (!subscription) {
            EXPECT_NE(error, 0u) << "a refusal carries the system's code";
            continue;
        }
        std::this_thread::sleep_for(100ms);
        EXPECT_LE(calls.load(), 1) << "no more than the initial notification";
        std::thread([&subscription] { subscription.reset(); }).join();
        const int after = calls.load();
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(calls.load(), after);
    }
}

}  // namespace
}  // namespace quillon::win32
