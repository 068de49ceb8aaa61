// SimWlan: the Wlan port over a simulated world. Each wifi adapter with a "wifi" section is one
// interface (its id is the adapter's ifIndex as text); its connection, channel and the access
// points heard follow the world's timeline. The connected access point's beacon carries the
// section's raw elements, or elements encoded from its facts (country, load, streams, width,
// MU-MIMO) the way a real access point would send them. No per-link real-time quality (as on
// systems that cannot report it). Thread-safety is the world's.
#pragma once

#include <memory>
#include <vector>

#include "platform/sim/sim_world.h"
#include "platform/wlan.h"

namespace quillon::sim {

// The beacon elements a simulated access point sends for these facts.
std::vector<uint8_t> EncodeBeaconElements(const WifiConfig& wifi);

class SimWlan final : public Wlan {
public:
    explicit SimWlan(SimWorld& world) : world_(world) {}
    // Null when the world has no wifi adapter with a "wifi" section (no wireless service).
    std::unique_ptr<WlanClient> Open() override;

private:
    SimWorld& world_;
};

}  // namespace quillon::sim
