// SimIcmp: the IcmpApi port over a SimWorld. A blocking echo lets the answer's round trip (or
// the whole time-out when nothing answers) pass on the world's clock; an overlapped echo is
// decided when sent and completes once the clock reaches send time plus round trip (or plus
// time-out, as kIcmpStatusTimedOut). An echo with no route fails at once without being sent.
// Open() returns null while the world says ICMP is unavailable.
// Thread-safety as the port promises: blocking echoes from any thread; one thread at a time
// per handle for the overlapped calls. The world outlives the adapter and its handles.
#pragma once

#include <memory>

#include "platform/icmp_api.h"
#include "platform/sim/sim_world.h"

namespace quillon::sim {

class SimIcmp final : public IcmpApi {
public:
    explicit SimIcmp(SimWorld& world) : world_(world) {}
    std::unique_ptr<IcmpHandle> Open() override;

private:
    SimWorld& world_;
};

}  // namespace quillon::sim
