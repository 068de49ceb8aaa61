// ICMP packet reading for the Linux echo adapter, kept apart from the sockets so that unit tests
// and the fuzzer reach it: bytes and lengths in, a verdict out. Builds the echo requests too.
// Pure functions; any thread.
//
// Status numbers follow the system status codes the core already reasons with (0 for a reply,
// 11013 for time exceeded in transit); every other ICMP error maps to the nearest of the
// classic IP_* numbers, all of which the core treats as "no answer":
//   11002 net unreachable       (destination unreachable, codes 0, 6, 9, 11)
//   11003 host unreachable      (destination unreachable, every other code)
//   11004 protocol unreachable  (code 2)
//   11005 port unreachable      (code 3)
//   11009 packet too big        (code 4, fragmentation needed)
//   11014 time exceeded in reassembly (time exceeded, code 1)
//   11015 parameter problem, 11016 source quench, 11050 anything else
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/ipv4.h"

namespace quillon::lnx {

constexpr uint32_t kIcmpStatusNetUnreachable = 11002;
constexpr uint32_t kIcmpStatusHostUnreachable = 11003;
constexpr uint32_t kIcmpStatusProtocolUnreachable = 11004;
constexpr uint32_t kIcmpStatusPortUnreachable = 11005;
constexpr uint32_t kIcmpStatusPacketTooBig = 11009;
constexpr uint32_t kIcmpStatusTtlExpiredReassembly = 11014;
constexpr uint32_t kIcmpStatusParameterProblem = 11015;
constexpr uint32_t kIcmpStatusSourceQuench = 11016;
constexpr uint32_t kIcmpStatusGeneralFailure = 11050;

constexpr uint8_t kIcmpEchoReply = 0;
constexpr uint8_t kIcmpDestinationUnreachable = 3;
constexpr uint8_t kIcmpSourceQuench = 4;
constexpr uint8_t kIcmpEchoRequest = 8;
constexpr uint8_t kIcmpTimeExceeded = 11;
constexpr uint8_t kIcmpParameterProblem = 12;

// What an accepted packet says about our request.
struct IcmpAnswer {
    uint32_t status = 0;
    Ipv4Address address;  // who answered
};

// The status an ICMP error type and code stand for.
uint32_t StatusOfIcmpError(uint8_t type, uint8_t code);

// The Internet checksum over bytes (odd lengths padded with a zero byte).
uint16_t InternetChecksum(const uint8_t* data, size_t size);

// An echo request: 8-byte header with checksum, then the payload. Identifier and sequence are
// written in network byte order.
std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      const uint8_t* payload, size_t payloadSize);

// A whole IPv4 packet as a raw ICMP socket delivers it. Accepted: an echo reply from
// `destination` carrying our identifier and sequence, or an ICMP error whose quoted header is
// our echo request (same identifier, sequence and destination). Anything else — other
// programs' pings, our own outgoing requests seen on loopback, mangled packets — is nothing.
std::optional<IcmpAnswer> ParseRawIcmpPacket(const uint8_t* packet, size_t size,
                                             Ipv4Address destination, uint16_t identifier,
                                             uint16_t sequence);

// An ICMP message as an ICMP datagram socket delivers it (no IP header; the kernel has already
// sent us only answers to this socket, with its own identifier): an echo reply with our
// sequence from `source`, which must be the destination.
std::optional<IcmpAnswer> ParseDatagramEchoReply(const uint8_t* message, size_t size,
                                                 Ipv4Address source, Ipv4Address destination,
                                                 uint16_t sequence);

// An entry of a datagram socket's error queue, its fields already taken from the control
// message: the origin must be ICMP, `sent` is the echo request the error is about (as the queue
// returns it) and must carry our sequence; `offender` is the router or host that answered.
struct QueuedIcmpError {
    bool originIcmp = false;
    uint8_t type = 0;
    uint8_t code = 0;
    Ipv4Address offender;
    Ipv4Address erroredDestination;  // where the erroring request went (msg_name)
};
std::optional<IcmpAnswer> ParseQueuedIcmpError(const QueuedIcmpError& error, const uint8_t* sent,
                                               size_t sentSize, Ipv4Address destination,
                                               uint16_t sequence);

}  // namespace quillon::lnx
