// The simulated STUN server's answer: a Binding request in, the Binding success response that
// reports the given address and port (as XOR-MAPPED-ADDRESS) out, or nothing for bytes that are
// not a Binding request. Written apart from the program's own STUN code, so that a scenario
// checks that code against a second reading of the protocol. Pure function; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/ipv4.h"

namespace quillon::sim {

// `port` in host byte order.
std::optional<std::vector<uint8_t>> StunBindingAnswer(const std::vector<uint8_t>& request,
                                                      Ipv4Address address, uint16_t port);

}  // namespace quillon::sim
