// Win32NetEvents: the NetEvents port over the IP Helper's change notifications,
// NotifyRouteChange2 (Route) and NotifyIpInterfaceChange (Interface), both for IPv4 and both
// asking for the system's initial notification. The system calls back on threads of its own,
// possibly two at once and possibly before the registering call has returned; the callback only
// hands the event on to the subscriber's function, with the system's notification type as is.
//
// The context the system holds is a number, not a pointer: each subscription is entered in a
// process-wide table under that number, and a callback finds its subscription there, so one
// that arrives late (after cancellation, or from a system that does not wait for its own
// callbacks) finds nothing and touches nothing. Destroying a subscription cancels it with
// CancelMibChangeNotify2, takes it out of the table, then waits for the callbacks already in
// its function: once the destructor returns none is running or will run. It must not be
// destroyed from inside its own callback. Subscribe() may be called from any thread.
#pragma once

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <memory>

#include "platform/net_events.h"

namespace quillon::win32 {

// The three system calls, replaceable so that tests can play a system that calls back at
// awkward moments.
struct NetNotifyCalls {
    using NotifyRoute = DWORD(WINAPI*)(ADDRESS_FAMILY, PIPFORWARD_CHANGE_CALLBACK, PVOID, BOOLEAN,
                                       HANDLE*);
    using NotifyInterface = DWORD(WINAPI*)(ADDRESS_FAMILY, PIPINTERFACE_CHANGE_CALLBACK, PVOID,
                                           BOOLEAN, HANDLE*);
    using Cancel = DWORD(WINAPI*)(HANDLE);
    NotifyRoute notifyRoute = NotifyRouteChange2;
    NotifyInterface notifyInterface = NotifyIpInterfaceChange;
    Cancel cancel = CancelMibChangeNotify2;
};

class Win32NetEvents final : public NetEvents {
public:
    explicit Win32NetEvents(NetNotifyCalls calls = {}) : calls_(calls) {}

    std::unique_ptr<NetSubscription> Subscribe(NetChangeKind kind, NetChangeCallback callback,
                                               uint32_t* error) override;

private:
    NetNotifyCalls calls_;
};

}  // namespace quillon::win32
