// Fuzzes the readers of received ICMP packets of the Linux echo adapter (raw-socket packets,
// datagram-socket replies and error-queue entries). Beyond not crashing: an accepted echo reply
// comes from the destination, and no packet is accepted for another identifier or sequence.
#include <cstdint>

#include "fuzz_check.h"
#include "platform/linux/linux_icmp_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quillon::lnx;
    // The first 8 bytes choose destination, identifier and sequence; the rest is the packet.
    if (size < 8) return 0;
    const quillon::Ipv4Address destination(data[0], data[1], data[2], data[3]);
    const uint16_t identifier = static_cast<uint16_t>(data[4] << 8 | data[5]);
    const uint16_t sequence = static_cast<uint16_t>(data[6] << 8 | data[7]);
    const uint8_t* packet = data + 8;
    const size_t length = size - 8;

    if (const auto raw = ParseRawIcmpPacket(packet, length, destination, identifier, sequence)) {
        if (raw->status == 0) Check(raw->address == destination);
        Check(length >= 28);
        Check(!ParseRawIcmpPacket(packet, length, destination, identifier ^ 1, sequence));
        Check(!ParseRawIcmpPacket(packet, length, destination, identifier, sequence ^ 1));
    }
    if (const auto reply =
            ParseDatagramEchoReply(packet, length, destination, destination, sequence)) {
        Check(reply->status == 0 && length >= 8);
    }
    const quillon::Ipv4Address offender(1, 0, 0, 0);
    QueuedIcmpError error{true, length > 0 ? packet[0] : uint8_t{0},
                          length > 1 ? packet[1] : uint8_t{0}, offender, destination};
    if (const auto queued = ParseQueuedIcmpError(error, packet, length, destination, sequence)) {
        Check(queued->status != 0 && queued->address == offender);
    }
    return 0;
}
