#include "platform/linux/linux_icmp_parse.h"

#include <gtest/gtest.h>

#include "base/ipv4.h"

#include <vector>

namespace quillon::lnx {
namespace {

const Ipv4Address kMe(192, 168, 1, 20);
const Ipv4Address kDest(1, 1, 1, 1);
const Ipv4Address kRouter(10, 0, 0, 1);
constexpr uint16_t kId = 0xBEEF;
constexpr uint16_t kSeq = 7;

void PutAddress(std::vector<uint8_t>& p, size_t at, Ipv4Address address) {
    for (int i = 0; i < 4; ++i) p[at + i] = address.Octet(i);
}

std::vector<uint8_t> IpHeader(Ipv4Address source, Ipv4Address destination, size_t optionBytes = 0) {
    std::vector<uint8_t> h(20 + optionBytes, 0);
    h[0] = static_cast<uint8_t>(0x40 | ((20 + optionBytes) / 4));
    h[8] = 64;
    h[9] = 1;  // ICMP
    PutAddress(h, 12, source);
    PutAddress(h, 16, destination);
    return h;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const uint8_t kPayload[] = {'Q', 'l', 'n', 'W', 'i', 'n', 0};

std::vector<uint8_t> EchoReply(Ipv4Address from, uint16_t id, uint16_t seq) {
    std::vector<uint8_t> icmp = BuildEchoRequest(id, seq, kPayload, sizeof(kPayload));
    icmp[0] = kIcmpEchoReply;
    return Concat(IpHeader(from, kMe), icmp);
}

// An ICMP error from `from` that quotes our request to `quotedDest`.
std::vector<uint8_t> ErrorPacket(uint8_t type, uint8_t code, Ipv4Address from,
                                 Ipv4Address quotedDest, uint16_t id, uint16_t seq,
                                 size_t outerOptions = 0) {
    std::vector<uint8_t> icmp = {type, code, 0, 0, 0, 0, 0, 0};
    const std::vector<uint8_t> request = BuildEchoRequest(id, seq, kPayload, sizeof(kPayload));
    icmp = Concat(icmp, IpHeader(kMe, quotedDest));
    icmp.insert(icmp.end(), request.begin(), request.begin() + 8);
    return Concat(IpHeader(from, kMe, outerOptions), icmp);
}

std::optional<IcmpAnswer> Raw(const std::vector<uint8_t>& p) {
    return ParseRawIcmpPacket(p.data(), p.size(), kDest, kId, kSeq);
}

TEST(LinuxIcmpParse, EchoRequestCarriesIdentifierSequencePayloadAndValidChecksum) {
    const auto packet = BuildEchoRequest(0x1234, 0x0506, kPayload, sizeof(kPayload));
    ASSERT_EQ(packet.size(), 15u);
    EXPECT_EQ(packet[0], kIcmpEchoRequest);
    EXPECT_EQ(packet[4], 0x12);
    EXPECT_EQ(packet[5], 0x34);
    EXPECT_EQ(packet[6], 0x05);
    EXPECT_EQ(packet[7], 0x06);
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 8, packet.end()),
              std::vector<uint8_t>(kPayload, kPayload + sizeof(kPayload)));
    // A correct checksum makes the sum over the whole message come out as zero.
    EXPECT_EQ(InternetChecksum(packet.data(), packet.size()), 0);
    // Known value: RFC 1071's example words 0001 f203 f4f5 f6f7 sum to ddf2, checksum 220d.
    const uint8_t words[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(InternetChecksum(words, sizeof(words)), 0x220d);
}

TEST(LinuxIcmpParse, RawEchoReplyIsMatchedOnIdentifierSequenceAndSource) {
    const auto ok = Raw(EchoReply(kDest, kId, kSeq));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 0u);
    EXPECT_EQ(ok->address, kDest);

    EXPECT_FALSE(Raw(EchoReply(kDest, kId + 1, kSeq))) << "another program's ping";
    EXPECT_FALSE(Raw(EchoReply(kDest, kId, kSeq + 1))) << "an earlier request's late reply";
    EXPECT_FALSE(Raw(EchoReply(Ipv4Address(8, 8, 8, 8), kId, kSeq)))
        << "a reply from another target";

    auto ownRequest = EchoReply(kDest, kId, kSeq);
    ownRequest[20] = kIcmpEchoRequest;  // our own request, seen on loopback
    EXPECT_FALSE(Raw(ownRequest));
}

TEST(LinuxIcmpParse, RawErrorsNameTheRouterAndMapToStatuses) {
    const auto exceeded = Raw(ErrorPacket(kIcmpTimeExceeded, 0, kRouter, kDest, kId, kSeq));
    ASSERT_TRUE(exceeded);
    EXPECT_EQ(exceeded->status, 11013u);
    EXPECT_EQ(exceeded->address, kRouter);

    // An outer header with options still finds the quoted request.
    const auto withOptions =
        Raw(ErrorPacket(kIcmpTimeExceeded, 0, kRouter, kDest, kId, kSeq, /*outerOptions=*/8));
    ASSERT_TRUE(withOptions);
    EXPECT_EQ(withOptions->address, kRouter);

    const auto port = Raw(ErrorPacket(kIcmpDestinationUnreachable, 3, kDest, kDest, kId, kSeq));
    ASSERT_TRUE(port);
    EXPECT_EQ(port->status, kIcmpStatusPortUnreachable);
    const auto host = Raw(ErrorPacket(kIcmpDestinationUnreachable, 1, kRouter, kDest, kId, kSeq));
    ASSERT_TRUE(host);
    EXPECT_EQ(host->status, kIcmpStatusHostUnreachable);

    EXPECT_FALSE(
        Raw(ErrorPacket(kIcmpTimeExceeded, 0, kRouter, Ipv4Address(9, 9, 9, 9), kId, kSeq)))
        << "about a request to another destination";
    EXPECT_FALSE(Raw(ErrorPacket(kIcmpTimeExceeded, 0, kRouter, kDest, kId + 1, kSeq)));
    EXPECT_FALSE(Raw(ErrorPacket(kIcmpTimeExceeded, 0, kRouter, kDest, kId, kSeq - 1)));
}

TEST(LinuxIcmpParse, TruncatedOrMangledPacketsAreNeverAccepted) {
    const auto full = ErrorPacket(kIcmpTimeExceeded, 0, kRouter, kDest, kId, kSeq);
    for (size_t n = 0; n < full.size(); ++n) {
        EXPECT_FALSE(ParseRawIcmpPacket(full.data(), n, kDest, kId, kSeq)) << n << " bytes";
    }
    auto badVersion = full;
    badVersion[0] = 0x65;
    EXPECT_FALSE(Raw(badVersion));
    auto longHeader = full;
    longHeader[0] = 0x4F;  // claims 60 header bytes, more than the ICMP part leaves
    EXPECT_FALSE(Raw(longHeader));
    auto notIcmp = full;
    notIcmp[9] = 17;
    EXPECT_FALSE(Raw(notIcmp));
    EXPECT_FALSE(ParseRawIcmpPacket(nullptr, 0, kDest, kId, kSeq));
}

TEST(LinuxIcmpParse, ErrorTypesAndCodesMapToStatusNumbers) {
    struct Case {
        uint8_t type, code;
        uint32_t status;
    } cases[] = {
        {0, 0, 0},      {3, 0, 11002},  {3, 1, 11003},  {3, 2, 11004},  {3, 3, 11005},
        {3, 4, 11009},  {3, 6, 11002},  {3, 10, 11003}, {3, 13, 11003}, {11, 0, 11013},
        {11, 1, 11014}, {12, 0, 11015}, {4, 0, 11016},  {5, 0, 11050},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StatusOfIcmpError(c.type, c.code), c.status) << int(c.type) << "/" << int(c.code);
    }
}

TEST(LinuxIcmpParse, DatagramRepliesAndQueuedErrorsMatchOnSequenceAndDestination) {
    auto reply = BuildEchoRequest(0x1111, kSeq, kPayload, sizeof(kPayload));  // kernel's id
    reply[0] = kIcmpEchoReply;
    const auto ok = ParseDatagramEchoReply(reply.data(), reply.size(), kDest, kDest, kSeq);
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->address, kDest);
    EXPECT_FALSE(ParseDatagramEchoReply(reply.data(), reply.size(), kDest, kDest, kSeq + 1));
    EXPECT_FALSE(ParseDatagramEchoReply(reply.data(), reply.size(), kRouter, kDest, kSeq));
    EXPECT_FALSE(ParseDatagramEchoReply(reply.data(), 7, kDest, kDest, kSeq));

    const auto sent = BuildEchoRequest(0x1111, kSeq, kPayload, sizeof(kPayload));
    QueuedIcmpError error{true, kIcmpTimeExceeded, 0, kRouter, kDest};
    const auto exceeded = ParseQueuedIcmpError(error, sent.data(), sent.size(), kDest, kSeq);
    ASSERT_TRUE(exceeded);
    EXPECT_EQ(exceeded->status, 11013u);
    EXPECT_EQ(exceeded->address, kRouter);

    EXPECT_FALSE(ParseQueuedIcmpError(error, sent.data(), sent.size(), kDest, kSeq + 1));
    EXPECT_FALSE(
        ParseQueuedIcmpError(error, sent.data(), sent.size(), Ipv4Address(9, 9, 9, 9), kSeq));
    EXPECT_FALSE(ParseQueuedIcmpError(error, sent.data(), 4, kDest, kSeq));
    QueuedIcmpError local = error;
    local.originIcmp = false;  // a local error (e.g. message too long), not an answer
    EXPECT_FALSE(ParseQueuedIcmpError(local, sent.data(), sent.size(), kDest, kSeq));
    QueuedIcmpError unreachable{true, kIcmpDestinationUnreachable, 0, kRouter, kDest};
    EXPECT_EQ(ParseQueuedIcmpError(unreachable, sent.data(), sent.size(), kDest, kSeq)->status,
              kIcmpStatusNetUnreachable);
}

}  // namespace
}  // namespace quillon::lnx
