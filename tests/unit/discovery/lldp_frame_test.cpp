#include "discovery/lldp_frame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

// An advertisement sent by lldpd itself, from the published receive tests of its source
// (tests/check_lldp.c, test_recv_lldpd; the system name is masked there): chassis and port by
// MAC, TTL 120, system name and description, capabilities, an IPv4 management address, port
// description "eth0", then IEEE 802.3 and TIA organisational TLVs and the End TLV.
const Bytes kLldpdFrame = {
    0x01, 0x80, 0xc2, 0x00, 0x00, 0x0e, 0x00, 0x16, 0x17, 0x2f, 0xa1, 0xb6, 0x88, 0xcc, 0x02, 0x07,
    0x04, 0x00, 0x16, 0x17, 0x2f, 0xa1, 0xb6, 0x04, 0x07, 0x03, 0x00, 0x16, 0x17, 0x2f, 0xa1, 0xb6,
    0x06, 0x02, 0x00, 0x78, 0x0a, 0x1a, 0x6e, 0x61, 0x72, 0x75, 0x74, 0x6f, 0x2e, 0x58, 0x58, 0x58,
    0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58, 0x58,
    0x0c, 0x3f, 0x4c, 0x69, 0x6e, 0x75, 0x78, 0x20, 0x32, 0x2e, 0x36, 0x2e, 0x32, 0x39, 0x2d, 0x32,
    0x2d, 0x61, 0x6d, 0x64, 0x36, 0x34, 0x20, 0x23, 0x31, 0x20, 0x53, 0x4d, 0x50, 0x20, 0x53, 0x75,
    0x6e, 0x20, 0x4d, 0x61, 0x79, 0x20, 0x31, 0x37, 0x20, 0x31, 0x37, 0x3a, 0x31, 0x35, 0x3a, 0x34,
    0x37, 0x20, 0x55, 0x54, 0x43, 0x20, 0x32, 0x30, 0x30, 0x39, 0x20, 0x78, 0x38, 0x36, 0x5f, 0x36,
    0x34, 0x0e, 0x04, 0x00, 0x1c, 0x00, 0x14, 0x10, 0x0c, 0x05, 0x01, 0x0a, 0xee, 0x50, 0x4b, 0x02,
    0x00, 0x00, 0x00, 0x03, 0x00, 0x08, 0x04, 0x65, 0x74, 0x68, 0x30, 0xfe, 0x09, 0x00, 0x12, 0x0f,
    0x03, 0x01, 0x00, 0x00, 0x00, 0x00, 0xfe, 0x09, 0x00, 0x12, 0x0f, 0x01, 0x03, 0x6c, 0x03, 0x00,
    0x10, 0xfe, 0x06, 0x00, 0x12, 0x0f, 0x04, 0x05, 0xdc, 0xfe, 0x07, 0x00, 0x12, 0xbb, 0x01, 0x00,
    0x00, 0x00, 0xfe, 0x0f, 0x00, 0x12, 0xbb, 0x05, 0x4e, 0x44, 0x39, 0x39, 0x31, 0x37, 0x38, 0x39,
    0x37, 0x30, 0x32, 0xfe, 0x0b, 0x00, 0x12, 0xbb, 0x06, 0x30, 0x38, 0x30, 0x30, 0x31, 0x32, 0x20,
    0xfe, 0x12, 0x00, 0x12, 0xbb, 0x07, 0x32, 0x2e, 0x36, 0x2e, 0x32, 0x39, 0x2d, 0x32, 0x2d, 0x61,
    0x6d, 0x64, 0x36, 0x34, 0xfe, 0x10, 0x00, 0x12, 0xbb, 0x08, 0x31, 0x30, 0x35, 0x38, 0x32, 0x30,
    0x38, 0x35, 0x30, 0x30, 0x30, 0x39, 0xfe, 0x15, 0x00, 0x12, 0xbb, 0x09, 0x4e, 0x45, 0x43, 0x20,
    0x43, 0x6f, 0x6d, 0x70, 0x75, 0x74, 0x65, 0x72, 0x73, 0x20, 0x53, 0x41, 0x53, 0xfe, 0x13, 0x00,
    0x12, 0xbb, 0x0a, 0x50, 0x4f, 0x57, 0x45, 0x52, 0x4d, 0x41, 0x54, 0x45, 0x20, 0x56, 0x4c, 0x33,
    0x35, 0x30, 0xfe, 0x0d, 0x00, 0x12, 0xbb, 0x0b, 0x31, 0x30, 0x30, 0x32, 0x30, 0x37, 0x31, 0x32,
    0x30, 0x00, 0x00};

// A frame of the given TLVs after an LLDP Ethernet header.
Bytes Frame(const std::vector<Bytes>& tlvs, uint16_t etherType = kLldpEtherType) {
    Bytes f = {0x01, 0x80, 0xc2, 0x00, 0x00, 0x0e, 0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
    f.push_back(static_cast<uint8_t>(etherType >> 8));
    f.push_back(static_cast<uint8_t>(etherType));
    for (const Bytes& t : tlvs) f.insert(f.end(), t.begin(), t.end());
    return f;
}

Bytes Tlv(unsigned type, const Bytes& value) {
    // Built by appending byte by byte: GCC 12 at -O3 mistakes a range insert into a fresh
    // two-byte vector for an overflow.
    Bytes t;
    t.reserve(value.size() + 2);
    t.push_back(static_cast<uint8_t>(type << 1 | value.size() >> 8));
    t.push_back(static_cast<uint8_t>(value.size()));
    for (const uint8_t b : value) t.push_back(b);
    return t;
}

Bytes Text(unsigned type, const std::string& text, int subtype = -1) {
    Bytes value;
    if (subtype >= 0) value.push_back(static_cast<uint8_t>(subtype));
    value.insert(value.end(), text.begin(), text.end());
    return Tlv(type, value);
}

const Bytes kEnd = {0x00, 0x00};

TEST(LldpFrame, ReadsARealAdvertisement) {
    const auto n = ParseLldpFrame(kLldpdFrame);
    ASSERT_TRUE(n);
    EXPECT_EQ(n->chassisId, "00:16:17:2F:A1:B6");
    EXPECT_EQ(n->portId, "00:16:17:2F:A1:B6");
    EXPECT_EQ(n->ttl, 120);
    EXPECT_EQ(n->systemName, "naruto.XXXXXXXXXXXXXXXXXXX");
    EXPECT_EQ(n->systemDescription,
              "Linux 2.6.29-2-amd64 #1 SMP Sun May 17 17:15:47 UTC 2009 x86_64");
    EXPECT_EQ(n->managementAddress, "10.238.80.75");
    EXPECT_EQ(n->portDescription, "eth0");
    EXPECT_EQ(n->portVlanId, 0);  // it announces no port VLAN
}

TEST(LldpFrame, DecodesEachFieldByItsSubtype) {
    struct Case {
        const char* what;
        Bytes tlv;
        std::string LldpNeighbor::*field;
        std::string expected;
    };
    const Case cases[] = {
        {"chassis MAC", Tlv(1, {4, 0xaa, 0xbb, 0xcc, 0x01, 0x02, 0x03}), &LldpNeighbor::chassisId,
         "AA:BB:CC:01:02:03"},
        {"chassis MAC one byte short", Tlv(1, {4, 0xaa, 0xbb, 0xcc, 0x01, 0x02}),
         &LldpNeighbor::chassisId, ""},
        {"chassis IPv4", Tlv(1, {5, 1, 192, 168, 1, 2}), &LldpNeighbor::chassisId, "192.168.1.2"},
        {"chassis IPv6 address", Tlv(1, {5, 2, 0xfe, 0x80, 0, 0}), &LldpNeighbor::chassisId, ""},
        {"chassis local text", Text(1, "sw-core", 7), &LldpNeighbor::chassisId, "sw-core"},
        {"chassis subtype alone", Tlv(1, {4}), &LldpNeighbor::chassisId, ""},
        {"port interface name", Text(2, "Gi1/0/7", 5), &LldpNeighbor::portId, "Gi1/0/7"},
        {"port MAC", Tlv(2, {3, 0, 1, 2, 3, 4, 0xff}), &LldpNeighbor::portId, "00:01:02:03:04:FF"},
        {"port IPv4", Tlv(2, {4, 1, 10, 0, 0, 9}), &LldpNeighbor::portId, "10.0.0.9"},
        {"port network address too short", Text(2, "x", 4), &LldpNeighbor::portId, ""},
        {"port description", Text(4, "Uplink to desk 12"), &LldpNeighbor::portDescription,
         "Uplink to desk 12"},
        {"system name in UTF-8", Text(5, "Büro-Switch"), &LldpNeighbor::systemName, "Büro-Switch"},
        {"system name, stray byte", Text(5, "sw\xff"), &LldpNeighbor::systemName, "sw\uFFFD"},
        {"management IPv4", Tlv(8, {5, 1, 172, 16, 0, 1, 2, 0, 0, 0, 1, 0}),
         &LldpNeighbor::managementAddress, "172.16.0.1"},
        {"management IPv6", Tlv(8, {17, 2, 0xfe, 0x80, 0, 0, 0, 0}),
         &LldpNeighbor::managementAddress, ""},
        {"management length byte too small", Tlv(8, {4, 1, 172, 16, 0, 1}),
         &LldpNeighbor::managementAddress, ""},
    };
    for (const Case& c : cases) {
        const auto n = ParseLldpFrame(Frame({Text(1, "c", 7), c.tlv, kEnd}));
        ASSERT_TRUE(n) << c.what;
        EXPECT_EQ((*n).*c.field, c.expected) << c.what;
    }

    const auto vlan = ParseLldpFrame(
        Frame({Text(1, "c", 7), Tlv(3, {0, 0}), Tlv(127, {0x00, 0x80, 0xc2, 1, 0x00, 0x64}),
               Tlv(127, {0x00, 0x12, 0x0f, 1, 0x00, 0x99}), kEnd}));
    ASSERT_TRUE(vlan);
    EXPECT_EQ(vlan->portVlanId, 100);  // the IEEE 802.3 TLV of the same shape is not a VLAN
    EXPECT_EQ(vlan->ttl, 0);
    EXPECT_TRUE(vlan->shutdown);  // a TTL of 0 is a farewell
    EXPECT_FALSE(ParseLldpFrame(kLldpdFrame)->shutdown);
    EXPECT_FALSE(ParseLldpFrame(Frame({Text(1, "c", 7), kEnd}))->shutdown);  // no TTL at all
}

TEST(LldpFrame, RefusesOrCutsShortBrokenAndForeignFrames) {
    const Bytes name = Text(5, "edge-7");
    // The last TLV runs past the captured bytes: what came before it counts.
    Bytes overrun = Frame({name, Tlv(4, Bytes(40, 'p'))});
    overrun.resize(overrun.size() - 10);
    const auto cut = ParseLldpFrame(overrun);
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->systemName, "edge-7");
    EXPECT_EQ(cut->portDescription, "");

    // ... but without a chassis or system name such a frame is dropped.
    Bytes anonymous = Frame({Text(4, "port 3"), Tlv(6, Bytes(40, 'd'))});
    anonymous.resize(anonymous.size() - 1);
    EXPECT_FALSE(ParseLldpFrame(anonymous));
    // An End TLV makes even an empty advertisement complete.
    EXPECT_TRUE(ParseLldpFrame(Frame({Tlv(3, {0, 20}), kEnd, Bytes(4, 0)})));

    // Nothing after End is read.
    const auto ended = ParseLldpFrame(Frame({Text(1, "c", 7), kEnd, name, kEnd}));
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->systemName, "");

    // A length with the ninth bit set, far past the frame.
    EXPECT_FALSE(ParseLldpFrame(Frame({{0x09, 0xff, 'a', 'b', 'c'}, Bytes(4, 0)})));

    // VLAN-tagged, another EtherType, too short, nothing at all.
    EXPECT_FALSE(ParseLldpFrame(Frame({Text(1, "c", 7), kEnd}, 0x8100)));
    EXPECT_FALSE(ParseLldpFrame(Frame({Text(1, "c", 7), kEnd}, 0x0800)));
    const Bytes header = Frame({Tlv(5, {'a', 'b'})});
    EXPECT_EQ(header.size(), 18u);
    EXPECT_FALSE(ParseLldpFrame(header));
    EXPECT_FALSE(ParseLldpFrame(nullptr, 0));
    // Every prefix of the real frame: never a read past it (the sanitizers watch).
    for (size_t size = 0; size <= kLldpdFrame.size(); ++size) {
        const Bytes prefix(kLldpdFrame.begin(), kLldpdFrame.begin() + size);
        const auto n = ParseLldpFrame(prefix);
        EXPECT_EQ(n.has_value(), size >= 23) << size;  // from the whole chassis TLV on
    }
}

}  // namespace
}  // namespace quillon
