// ParseLldpFrame: reads one captured Ethernet frame carrying an LLDP advertisement into an
// LldpNeighbor. Pure (bytes in, record out), so the capture thread, the unit tests and the
// fuzzer all reach the same code; it never reads past `size`, whatever the TLV lengths say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "discovery/lldp_neighbor.h"

namespace quillon {

inline constexpr uint16_t kLldpEtherType = 0x88CC;
// Shorter captures cannot hold the Ethernet header and a TLV worth reading.
inline constexpr size_t kLldpMinFrameBytes = 20;
// Hold time used when the advertisement gives no TTL (a TTL of 0 is a shutdown advertisement).
inline constexpr uint16_t kLldpDefaultHoldSeconds = 120;

// The neighbour the frame describes, or nothing when it is not an untagged LLDP frame, or when
// it ends without an End TLV and names neither a chassis nor a system.
std::optional<LldpNeighbor> ParseLldpFrame(const uint8_t* data, size_t size);

inline std::optional<LldpNeighbor> ParseLldpFrame(const std::vector<uint8_t>& frame) {
    return ParseLldpFrame(frame.data(), frame.size());
}

}  // namespace quillon
