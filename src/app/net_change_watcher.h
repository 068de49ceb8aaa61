// NetChangeWatcher: turns the system's route and interface change notifications into one
// network-change message for the main controller, sent once a burst of notifications has been
// quiet for 500 ms, so that the tables read afterwards are the final ones.
//
// HandleNetworkChange runs on the notification threads (possibly two at once) and only records
// and posts; everything else runs on the UI thread, called by the main controller: the target
// and registered flag, the settle timer and its re-arming.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/net_events.h"

namespace quillon {

class Clock;
class Shell;

constexpr uint32_t kNetChangeDebounceMs = 500;

// "Route" or "Interface".
const char* NetChangeKindName(NetChangeKind kind);
// 0 "parameter", 1 "add", 2 "delete", 3 "initial", anything else "unknown".
const char* NetChangeTypeName(int type);

class NetChangeWatcher {
public:
    NetChangeWatcher(Clock& clock, Shell& shell) : clock_(clock), shell_(shell) {}

    // Notification threads.
    void HandleNetworkChange(const char* kind, const char* type);

    // UI thread.
    void SetRegistered(bool registered);
    void SetTarget(bool set);  // cleared at window destruction: later notifications post nothing
    // A burst began (kNetChangeArrivedMessage): wait for it to settle.
    void OnBurstStarted();
    // The settle timer fired: posts the network-change message once the last notification is
    // 500 ms old, otherwise waits for the rest of that time.
    void OnSettleTimer();

private:
    Clock& clock_;
    Shell& shell_;
    std::mutex mutex_;
    bool registered_ = false;
    bool targetSet_ = false;
    bool burstOpen_ = false;         // a burst is being waited out
    uint32_t lastNotification_ = 0;  // 32-bit tick of the latest notification of the burst
};

}  // namespace quillon
