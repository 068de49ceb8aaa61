#include "app/net_change_watcher.h"

#include "base/log.h"
#include "platform/shell_messages.h"
#include "platform/clock.h"
#include "platform/shell.h"

namespace quillon {

const char* NetChangeKindName(NetChangeKind kind) {
    return kind == NetChangeKind::Route ? "Route" : "Interface";
}

const char* NetChangeTypeName(int type) {
    switch (type) {
        case 0:
            return "parameter";
        case 1:
            return "add";
        case 2:
            return "delete";
        case 3:
            return "initial";
        default:
            return "unknown";
    }
}

void NetChangeWatcher::HandleNetworkChange(const char* kind, const char* type) {
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        if (!registered_) {
            LogWrite(Debug, "%s change (initial): %s - skipped", kind, type);
            return;
        }
        lastNotification_ = clock_.Tick32();
        if (burstOpen_) {
            // Folded into the message that goes out when the burst settles.
            LogWrite(Debug, "%s change: %s - debounced", kind, type);
            return;
        }
        LogWrite(Info, "%s change detected: %s", kind, type);
        if (!targetSet_) return;
        burstOpen_ = true;
        post = true;
    }
    if (post) shell_.PostToSelf(kNetChangeArrivedMessage);
}

void NetChangeWatcher::SetRegistered(bool registered) {
    std::lock_guard lock(mutex_);
    registered_ = registered;
}

void NetChangeWatcher::SetTarget(bool set) {
    std::lock_guard lock(mutex_);
    targetSet_ = set;
    if (!set) burstOpen_ = false;
}

void NetChangeWatcher::OnBurstStarted() {
    {
        std::lock_guard lock(mutex_);
        if (!targetSet_) return;
    }
    shell_.SetTimer(kNetChangeSettleTimer, kNetChangeDebounceMs);
}

void NetChangeWatcher::OnSettleTimer() {
    uint32_t quietFor;
    {
        std::lock_guard lock(mutex_);
        if (!targetSet_) {
            shell_.KillTimer(kNetChangeSettleTimer);
            return;
        }
        quietFor = clock_.Tick32() - lastNotification_;
        if (quietFor >= kNetChangeDebounceMs) burstOpen_ = false;
    }
    if (quietFor >= kNetChangeDebounceMs) {
        shell_.KillTimer(kNetChangeSettleTimer);
        shell_.PostToSelf(kNetChangeMessage);
    } else {
        shell_.SetTimer(kNetChangeSettleTimer, kNetChangeDebounceMs - quietFor);
    }
}

}  // namespace quillon
