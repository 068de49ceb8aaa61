// The wireless link, asked of the WLAN client: which interface is connected, to what network
// and access point, on which channel and band, how fast, how secure, what the access point's
// beacon says about itself, and how many other access points share the air. Blocking; called
// on the thread that builds the network state (the UI thread).
//
// WifiLink owns the client for the life of the main window: it opens it once, asks each
// connected interface for one fresh scan right then, and never scans again (queries use the
// system's cached results and never wait for a scan). It keeps no state between queries.
#pragma once

#include <memory>

#include "discovery/wifi_details.h"
#include "platform/wlan.h"

namespace quillon {

// One query over an open client; the default record (connected false) without one, when the
// interfaces cannot be listed, or when none is connected.
WifiDetails QueryWifiDetails(WlanClient* client);

class WifiLink {
public:
    // Opens the client (none when the computer has no wireless service) and requests a scan on
    // every connected interface.
    explicit WifiLink(Wlan& wlan);
    WifiLink(const WifiLink&) = delete;
    WifiLink& operator=(const WifiLink&) = delete;

    WifiDetails QueryWifiDetails() { return quillon::QueryWifiDetails(client_.get()); }
    bool HasClient() const { return client_ != nullptr; }

private:
    std::unique_ptr<WlanClient> client_;
};

}  // namespace quillon
