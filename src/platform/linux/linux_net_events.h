// LinuxNetEvents: the NetEvents port over rtnetlink. Each subscription owns one NETLINK_ROUTE
// socket bound to the multicast groups of its kind (IPv4 routes for Route; links and IPv4
// addresses for Interface) and one listener thread that reads it and calls the callback for
// every change the datagram announces (see linux_netlink_parse.h for what counts).
//
// Subscribe() may be called from any thread. It binds the socket first, so no change after it
// returns can be missed, then calls the callback with NetChangeType::Initial on the caller's
// thread before returning, which is when the caller still treats notifications as part of
// registering; later callbacks run on the listener thread, one at a time per subscription.
// When the kernel dropped notifications because the socket's queue overflowed, the callback
// gets one NetChangeType::Parameter change for the lost ones and listening goes on.
//
// Destroying a subscription wakes its thread through an eventfd and joins it: once the
// destructor returns no callback of it is running or will run. It must not be destroyed from
// inside its own callback.
#pragma once

#include <memory>

#include "platform/net_events.h"

namespace quillon::lnx {

class LinuxNetEvents final : public NetEvents {
public:
    // receiveBufferBytes: the socket's receive queue size (SO_RCVBUF; the kernel doubles it and
    // enforces a minimum). The default holds bursts of a few hundred notifications; tests pass a
    // small one to provoke overruns. 0 keeps the system default.
    static constexpr int kDefaultReceiveBufferBytes = 256 * 1024;
    explicit LinuxNetEvents(int receiveBufferBytes = kDefaultReceiveBufferBytes)
        : receiveBufferBytes_(receiveBufferBytes) {}

    std::unique_ptr<NetSubscription> Subscribe(NetChangeKind kind, NetChangeCallback callback,
                                               uint32_t* error) override;

private:
    int receiveBufferBytes_;
};

}  // namespace quillon::lnx
