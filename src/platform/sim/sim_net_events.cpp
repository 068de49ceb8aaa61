#include "platform/sim/sim_net_events.h"

#include <list>
#include <mutex>

namespace quillon::sim {

struct SimNetEvents::Hub {
    struct Listener {
        NetChangeKind kind;
        NetChangeCallback callback;
    };

    // Held while callbacks run, so that removing a listener waits for its running callback.
    std::mutex mutex;
    std::list<Listener> listeners;

    void Announce() {
        std::lock_guard lock(mutex);
        for (Listener& listener : listeners) {
            listener.callback(listener.kind, NetChangeType::Parameter);
        }
    }
};

namespace {

class SimNetSubscription final : public NetSubscription {
public:
    using Position = std::list<SimNetEvents::Hub::Listener>::iterator;
    SimNetSubscription(std::shared_ptr<SimNetEvents::Hub> hub, Position position)
        : hub_(std::move(hub)), position_(position) {}
    ~SimNetSubscription() override {
        std::lock_guard lock(hub_->mutex);
        hub_->listeners.erase(position_);
    }

private:
    std::shared_ptr<SimNetEvents::Hub> hub_;
    Position position_;
};

}  // namespace

SimNetEvents::SimNetEvents(SimWorld& world) : world_(world), hub_(std::make_shared<Hub>()) {
    world_.SetChangeListener([hub = hub_] { hub->Announce(); });
}

SimNetEvents::~SimNetEvents() {
    world_.SetChangeListener(nullptr);
}

std::unique_ptr<NetSubscription> SimNetEvents::Subscribe(NetChangeKind kind,
                                                         NetChangeCallback callback,
                                                         uint32_t* error) {
    if (error != nullptr) *error = 0;
    std::lock_guard lock(hub_->mutex);
    const auto position =
        hub_->listeners.insert(hub_->listeners.end(), {kind, std::move(callback)});
    position->callback(kind, NetChangeType::Initial);
    return std::make_unique<SimNetSubscription>(hub_, position);
}

}  // namespace quillon::sim
