#include "platform/sim/sim_stun.h"

namespace quillon::sim {

std::optional<std::vector<uint8_t>> StunBindingAnswer(const std::vector<uint8_t>& request,
                                                      Ipv4Address address, uint16_t port) {
    // Type 0x0001, the magic cookie 0x2112A442, then twelve bytes of transaction id.
    constexpr uint8_t kCookie[4] = {0x21, 0x12, 0xA4, 0x42};
    if (request.size() < 20 || request[0] != 0x00 || request[1] != 0x01) return std::nullopt;
    for (int i = 0; i < 4; ++i) {
        if (request[4 + i] != kCookie[i]) return std::nullopt;
    }
    std::vector<uint8_t> answer = {0x01, 0x01, 0x00, 0x0C};
    answer.insert(answer.end(), request.begin() + 4, request.begin() + 20);
    // XOR-MAPPED-ADDRESS, 8 bytes: reserved, family 1, port ^ 0x2112, address ^ cookie.
    answer.insert(answer.end(), {0x00, 0x20, 0x00, 0x08, 0x00, 0x01,
                                 uint8_t((port >> 8) ^ kCookie[0]), uint8_t(port ^ kCookie[1])});
    for (int i = 0; i < 4; ++i) answer.push_back(address.Octet(i) ^ kCookie[i]);
    return answer;
}

}  // namespace quillon::sim
