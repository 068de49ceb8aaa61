// SimNetEvents: the NetEvents port over a SimWorld. The world tells only that its adapters,
// routes or neighbours changed, not which, so every subscription, of either kind, hears one
// NetChangeType::Parameter change for each batch of table changes the world applies. Changes of
// a hop (loss, latency, silence) are not table changes and announce nothing.
//
// The world applies its timeline when something next uses it, so those callbacks run on that
// thread (a prober, a discovery worker, the UI thread), one at a time across all
// subscriptions. The NetChangeType::Initial one runs on the subscriber's thread before
// Subscribe returns, and no table change is announced to it before that.
//
// The adapter holds the world's change listener for as long as it lives; the world outlives
// it. Destroying a subscription waits until no callback of it is running; it must not be
// destroyed from inside its own callback. Any thread.
#pragma once

#include <memory>

#include "platform/net_events.h"
#include "platform/sim/sim_world.h"

namespace quillon::sim {

class SimNetEvents final : public NetEvents {
public:
    explicit SimNetEvents(SimWorld& world);
    ~SimNetEvents() override;
    SimNetEvents(const SimNetEvents&) = delete;
    SimNetEvents& operator=(const SimNetEvents&) = delete;

    // Never fails.
    std::unique_ptr<NetSubscription> Subscribe(NetChangeKind kind, NetChangeCallback callback,
                                               uint32_t* error) override;

    struct Hub;  // shared with the subscriptions, which may outlive the adapter

private:
    SimWorld& world_;
    std::shared_ptr<Hub> hub_;
};

}  // namespace quillon::sim
