// NetEvents: notifications that the computer's routes or IP interfaces changed. Callbacks run
// on a thread of the adapter's (or the system's) own, possibly two at once; they must only
// record or post, never block or throw.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace quillon {

enum class NetChangeKind { Route, Interface };

// Numbering follows the system's notification types: 0 parameter, 1 add, 2 delete, 3 initial.
enum class NetChangeType : int { Parameter = 0, Add = 1, Delete = 2, Initial = 3 };

using NetChangeCallback = std::function<void(NetChangeKind, NetChangeType)>;

// A live registration; destroying it cancels it and waits until no callback is running.
class NetSubscription {
public:
    virtual ~NetSubscription() = default;
};

class NetEvents {
public:
    virtual ~NetEvents() = default;

    // Registers for IPv4 changes of one kind. The callback is also called once right after
    // registering with NetChangeType::Initial. Null on failure, with the system error in *error.
    virtual std::unique_ptr<NetSubscription> Subscribe(NetChangeKind kind,
                                                       NetChangeCallback callback,
                                                       uint32_t* error) = 0;
};

}  // namespace quillon
