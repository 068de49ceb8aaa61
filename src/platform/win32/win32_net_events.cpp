#include "platform/win32/win32_net_events.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>

#include "base/log.h"

namespace quillon::win32 {

namespace {

const char* KindName(NetChangeKind kind) {
    return kind == NetChangeKind::Route ? "route" : "interface";
}

// One subscriber as the system's callbacks reach it.
struct Relay {
    NetChangeKind kind;
    NetChangeCallback callback;
    int running = 0;  // callbacks inside `callback` now; under the table's mutex
};

// The live subscriptions by the number handed to the system as its context.
struct RelayTable {
    std::mutex mutex;
    std::condition_variable idle;
    std::map<uintptr_t, std::shared_ptr<Relay>> relays;
    uintptr_t next = 1;  // 0 would be a null context
};

// Never destroyed: a system thread may still call back while the process exits.
RelayTable& Table() {
    static RelayTable* table = new RelayTable;
    return *table;
}

uintptr_t Enter(NetChangeKind kind, NetChangeCallback callback) {
    RelayTable& table = Table();
    auto relay = std::make_shared<Relay>(Relay{kind, std::move(callback)});
    std::lock_guard lock(table.mutex);
    const uintptr_t id = table.next++;
    table.relays.emplace(id, std::move(relay));
    return id;
}

// Takes the subscription out of the table, then waits for the callbacks already running it.
void Withdraw(uintptr_t id) {
    RelayTable& table = Table();
    std::unique_lock lock(table.mutex);
    const auto found = table.relays.find(id);
    if (found == table.relays.end()) return;
    const std::shared_ptr<Relay> relay = found->second;
    table.relays.erase(found);
    table.idle.wait(lock, [&relay] { return relay->running == 0; });
}

void Deliver(void* context, MIB_NOTIFICATION_TYPE type) {
    RelayTable& table = Table();
    std::shared_ptr<Relay> relay;
    {
        std::lock_guard lock(table.mutex);
        const auto found = table.relays.find(reinterpret_cast<uintptr_t>(context));
        if (found == table.relays.end()) return;  // cancelled, or never ours
        relay = found->second;
        ++relay->running;
    }
    // The port numbers the types as the system does; values it does not name pass on as they
    // are, for the core to call "unknown".
    relay->callback(relay->kind, static_cast<NetChangeType>(type));
    std::lock_guard lock(table.mutex);
    if (--relay->running == 0) table.idle.notify_all();
}

void WINAPI RouteChanged(PVOID context, PMIB_IPFORWARD_ROW2, MIB_NOTIFICATION_TYPE type) {
    Deliver(context, type);
}

void WINAPI InterfaceChanged(PVOID context, PMIB_IPINTERFACE_ROW, MIB_NOTIFICATION_TYPE type) {
    Deliver(context, type);
}

class Win32NetSubscription final : public NetSubscription {
public:
    Win32NetSubscription(NetChangeKind kind, NetNotifyCalls::Cancel cancel, HANDLE handle,
                         uintptr_t id)
        : kind_(kind), cancel_(cancel), handle_(handle), id_(id) {}

    ~Win32NetSubscription() override {
        // A system that registered without giving a handle has nothing to cancel.
        if (handle_ != nullptr) {
            if (const DWORD result = cancel_(handle_); result != NO_ERROR) {
                LogWrite(Debug, "Network %s notifications: cancel failed (%lu)", KindName(kind_),
                         static_cast<unsigned long>(result));
            }
        }
        Withdraw(id_);
    }

private:
    const NetChangeKind kind_;
    const NetNotifyCalls::Cancel cancel_;
    const HANDLE handle_;
    const uintptr_t id_;
};

}  // namespace

std::unique_ptr<NetSubscription> Win32NetEvents::Subscribe(NetChangeKind kind,
                                                           NetChangeCallback callback,
                                                           uint32_t* error) {
    auto fail = [error](DWORD code) {
        if (error != nullptr) *error = static_cast<uint32_t>(code);
        return nullptr;
    };
    if (!callback) return fail(ERROR_INVALID_PARAMETER);

    // Entered before registering: the initial notification may come before the call returns.
    const uintptr_t id = Enter(kind, std::move(callback));
    void* const context = reinterpret_cast<void*>(id);
    HANDLE handle = nullptr;
    const DWORD result =
        kind == NetChangeKind::Route
            ? calls_.notifyRoute(AF_INET, RouteChanged, context, TRUE, &handle)
            : calls_.notifyInterface(AF_INET, InterfaceChanged, context, TRUE, &handle);
    if (result != NO_ERROR) {
        Withdraw(id);
        return fail(result);
    }
    return std::make_unique<Win32NetSubscription>(kind, calls_.cancel, handle, id);
}

}  // namespace quillon::win32
