// LinuxWlan: the Wlan port over nl80211, spoken on a generic-netlink socket of the client's own
// (no library). An interface is a wireless network interface in station mode; its id is the
// interface index as text and its description the interface name. The connection, channel and
// access points come from the kernel's interface, station and scan-result answers; the access
// points are the kernel's cached scan results, so a query never waits for a scan.
//
// Every request waits at most about a second for its answer, so that a kernel or driver that
// stalls cannot hold the UI thread for long. Asking for a scan needs CAP_NET_ADMIN; a normal
// user's request is refused by the kernel and the cached results stay what they are.
#pragma once

#include <memory>

#include "platform/wlan.h"

namespace quillon::lnx {

class LinuxWlan final : public Wlan {
public:
    // Null when the kernel has no nl80211 (no wireless support) or netlink is unavailable.
    std::unique_ptr<WlanClient> Open() override;
};

}  // namespace quillon::lnx
