// Win32Wlan: the Wlan port over the WLAN API (wlanapi). Open asks for a client handle of
// version 2 and the client closes it when destroyed; an interface's id is its GUID in registry
// form. The connection, channel and real-time quality come from WlanQueryInterface, the access
// points from WlanGetNetworkBssList, which answers from the system's cached scan results, so a
// query never waits for a scan; RequestScan only asks for a fresh one (WlanScan).
//
// The main window opens the client on the UI thread and closes it at its destruction; the
// queries keep no state of their own, so any thread may make them while the client is open.
// Every answer the system allocates is freed before the call returns.
#pragma once

#include <memory>

#include "platform/wlan.h"

namespace quillon::win32 {

class Win32Wlan final : public Wlan {
public:
    // Null when the WLAN service is not there (no wireless support, or its service stopped).
    std::unique_ptr<WlanClient> Open() override;
};

}  // namespace quillon::win32
