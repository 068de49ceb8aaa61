#include "platform/linux/linux_icmp_parse.h"

#include <cstring>

namespace quillon::lnx {

namespace {

constexpr size_t kIcmpHeaderSize = 8;
constexpr uint8_t kProtocolIcmp = 1;

uint16_t Read16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

// The four octets as they sit in the packet, first octet first.
Ipv4Address ReadAddress(const uint8_t* p) {
    return Ipv4Address(p[0], p[1], p[2], p[3]);
}

// The header length of the IPv4 packet at p, or 0 when it is not a plausible IPv4 header of
// the given protocol within size bytes.
size_t Ipv4HeaderLength(const uint8_t* p, size_t size, uint8_t protocol) {
    if (size < 20 || (p[0] >> 4) != 4) return 0;
    const size_t length = static_cast<size_t>(p[0] & 0x0F) * 4;
    if (length < 20 || length > size || p[9] != protocol) return 0;
    return length;
}

bool IsEchoRequestOf(const uint8_t* icmp, size_t size, uint16_t identifier, uint16_t sequence) {
    return size >= kIcmpHeaderSize && icmp[0] == kIcmpEchoRequest && icmp[1] == 0 &&
           Read16(icmp + 4) == identifier && Read16(icmp + 6) == sequence;
}

}  // namespace

uint32_t StatusOfIcmpError(uint8_t type, uint8_t code) {
    switch (type) {
        case kIcmpEchoReply:
            return 0;
        case kIcmpDestinationUnreachable:
            switch (code) {
                case 0:
                case 6:
                case 9:
                case 11:
                    return kIcmpStatusNetUnreachable;
                case 2:
                    return kIcmpStatusProtocolUnreachable;
                case 3:
                    return kIcmpStatusPortUnreachable;
                case 4:
                    return kIcmpStatusPacketTooBig;
                default:
                    return kIcmpStatusHostUnreachable;
            }
        case kIcmpTimeExceeded:
            return code == 0 ? 11013u : kIcmpStatusTtlExpiredReassembly;
        case kIcmpParameterProblem:
            return kIcmpStatusParameterProblem;
        case kIcmpSourceQuench:
            return kIcmpStatusSourceQuench;
        default:
            return kIcmpStatusGeneralFailure;
    }
}

uint16_t InternetChecksum(const uint8_t* data, size_t size) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2) sum += Read16(data + i);
    if (size % 2 != 0) sum += static_cast<uint32_t>(data[size - 1]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      const uint8_t* payload, size_t payloadSize) {
    std::vector<uint8_t> packet(kIcmpHeaderSize + payloadSize, 0);
    packet[0] = kIcmpEchoRequest;
    packet[4] = static_cast<uint8_t>(identifier >> 8);
    packet[5] = static_cast<uint8_t>(identifier);
    packet[6] = static_cast<uint8_t>(sequence >> 8);
    packet[7] = static_cast<uint8_t>(sequence);
    if (payloadSize > 0) std::memcpy(packet.data() + kIcmpHeaderSize, payload, payloadSize);
    const uint16_t checksum = InternetChecksum(packet.data(), packet.size());
    packet[2] = static_cast<uint8_t>(checksum >> 8);
    packet[3] = static_cast<uint8_t>(checksum);
    return packet;
}

std::optional<IcmpAnswer> ParseRawIcmpPacket(const uint8_t* packet, size_t size,
                                             Ipv4Address destination, uint16_t identifier,
                                             uint16_t sequence) {
    if (packet == nullptr) return std::nullopt;
    const size_t headerLength = Ipv4HeaderLength(packet, size, kProtocolIcmp);
    if (headerLength == 0 || size - headerLength < kIcmpHeaderSize) return std::nullopt;
    const Ipv4Address source = ReadAddress(packet + 12);
    const uint8_t* icmp = packet + headerLength;
    const size_t icmpSize = size - headerLength;
    const uint8_t type = icmp[0];

    if (type == kIcmpEchoReply) {
        if (icmp[1] != 0 || source != destination || Read16(icmp + 4) != identifier ||
            Read16(icmp + 6) != sequence) {
            return std::nullopt;
        }
        return IcmpAnswer{0, source};
    }
    if (type != kIcmpDestinationUnreachable && type != kIcmpTimeExceeded &&
        type != kIcmpParameterProblem && type != kIcmpSourceQuench) {
        return std::nullopt;
    }
    // The error quotes the IP header of our request and at least 8 bytes of its ICMP header.
    const uint8_t* quoted = icmp + kIcmpHeaderSize;
    const size_t quotedSize = icmpSize - kIcmpHeaderSize;
    const size_t quotedHeaderLength = Ipv4HeaderLength(quoted, quotedSize, kProtocolIcmp);
    if (quotedHeaderLength == 0 || ReadAddress(quoted + 16) != destination) return std::nullopt;
    if (!IsEchoRequestOf(quoted + quotedHeaderLength, quotedSize - quotedHeaderLength, identifier,
                         sequence)) {
        return std::nullopt;
    }
    return IcmpAnswer{StatusOfIcmpError(type, icmp[1]), source};
}

std::optional<IcmpAnswer> ParseDatagramEchoReply(const uint8_t* message, size_t size,
                                                 Ipv4Address source, Ipv4Address destination,
                                                 uint16_t sequence) {
    if (message == nullptr || size < kIcmpHeaderSize) return std::nullopt;
    if (message[0] != kIcmpEchoReply || message[1] != 0) return std::nullopt;
    if (source != destination || Read16(message + 6) != sequence) return std::nullopt;
    return IcmpAnswer{0, source};
}

std::optional<IcmpAnswer> ParseQueuedIcmpError(const QueuedIcmpError& error, const uint8_t* sent,
                                               size_t sentSize, Ipv4Address destination,
                                               uint16_t sequence) {
    if (!error.originIcmp || sent == nullptr || sentSize < kIcmpHeaderSize) return std::nullopt;
    if (error.erroredDestination != destination) return std::nullopt;
    if (sent[0] != kIcmpEchoRequest || Read16(sent + 6) != sequence) return std::nullopt;
    if (error.type == kIcmpEchoReply) return std::nullopt;
    return IcmpAnswer{StatusOfIcmpError(error.type, error.code), error.offender};
}

}  // namespace quillon::lnx
