// STUN Binding messages (RFC 5389), as the public-address service uses them: the 20-byte
// Binding request it sends, and the reading of the server's answer into the mapped address and
// port. Pure functions over bytes, so that unit tests and the fuzzer reach them without a
// socket; any thread.
//
// The answer is read strictly: a Binding success response carrying the magic cookie and the
// request's transaction id, whose declared length fits the bytes received, with an IPv4
// XOR-MAPPED-ADDRESS or MAPPED-ADDRESS (the first of them that is long enough wins). Anything
// else is refused with the reason, never read past its end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ipv4.h"

namespace quillon {

inline constexpr uint16_t kStunDefaultPort = 3478;
inline constexpr uint32_t kStunMagicCookie = 0x2112A442;
inline constexpr uint16_t kStunBindingRequest = 0x0001;
inline constexpr uint16_t kStunBindingSuccess = 0x0101;
inline constexpr uint16_t kStunMappedAddress = 0x0001;
inline constexpr uint16_t kStunXorMappedAddress = 0x0020;
inline constexpr size_t kStunHeaderSize = 20;

using StunTransactionId = std::array<uint8_t, 12>;

// The 20-byte Binding request: type 0x0001, length 0, the magic cookie, the transaction id.
std::vector<uint8_t> BuildBindingRequest(const StunTransactionId& id);

enum class StunStatus {
    Mapped,            // address and port are filled in
    TooShort,          // fewer than 20 bytes
    NotSuccess,        // another message type: an error response, a request, ...
    BadCookie,         // not a STUN message of RFC 5389's kind
    OtherTransaction,  // the answer to some other request
    Truncated,         // the declared length, or an attribute's, runs past the bytes received
    NotIpv4,           // the first address attribute is of another family
    NoAddress,         // a well-formed success without an address attribute
};

struct StunAnswer {
    StunStatus status = StunStatus::TooShort;
    Ipv4Address address;
    uint16_t port = 0;  // host byte order
};

// Reads a Binding answer to the request with transaction id `id`.
StunAnswer ParseBindingAnswer(const uint8_t* data, size_t size, const StunTransactionId& id);
inline StunAnswer ParseBindingAnswer(const std::vector<uint8_t>& answer,
                                     const StunTransactionId& id) {
    return ParseBindingAnswer(answer.data(), answer.size(), id);
}

// The server's side: a Binding success response carrying one mapped-address attribute
// (XOR-MAPPED-ADDRESS when `xored`, else MAPPED-ADDRESS). Tests and the fuzzer answer with it.
std::vector<uint8_t> BuildBindingSuccess(const StunTransactionId& id, Ipv4Address address,
                                         uint16_t port, bool xored = true);

// Where the STUN server is: "HOST" or "HOST:PORT" (port 1-65535; 3478 when left out).
struct StunServer {
    std::string host;
    uint16_t port = kStunDefaultPort;
};
// nullopt for an empty host, an empty or bad port, or a host with blanks or further colons.
std::optional<StunServer> ParseStunServer(std::string_view text);

// A public STUN server that answers Binding requests on the standard port.
inline constexpr char kDefaultStunServer[] = "stun.cloudflare.com";

}  // namespace quillon
