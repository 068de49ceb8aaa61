#include "discovery/stun.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "base/ipv4.h"

namespace quillon {
namespace {

const StunTransactionId kId = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

// A success header for kId with the given attribute bytes; `length` overrides the declared
// length (-1: the attributes' size).
std::vector<uint8_t> Answer(std::vector<uint8_t> attributes, int length = -1) {
    const size_t declared = length < 0 ? attributes.size() : size_t(length);
    std::vector<uint8_t> out = {0x01, 0x01, uint8_t(declared >> 8), uint8_t(declared), 0x21, 0x12,
                                0xA4, 0x42};
    // Appended byte by byte: GCC 12's -O2 flags a range insert of an empty vector here.
    for (const uint8_t byte : kId) out.push_back(byte);
    for (const uint8_t byte : attributes) out.push_back(byte);
    return out;
}

// An address attribute: type, length 8, reserved, family, port and address as written.
std::vector<uint8_t> Attr(uint16_t type, uint8_t family, uint16_t port, uint32_t bigEndian) {
    return {uint8_t(type >> 8),
            uint8_t(type),
            0x00,
            0x08,
            0x00,
            family,
            uint8_t(port >> 8),
            uint8_t(port),
            uint8_t(bigEndian >> 24),
            uint8_t(bigEndian >> 16),
            uint8_t(bigEndian >> 8),
            uint8_t(bigEndian)};
}

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Stun, BindingRequestIsTwentyBytesWithCookieAndId) {
    EXPECT_EQ(BuildBindingRequest(kId),
              (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x00, 0x21, 0x12, 0xA4, 0x42, 1,  2,
                                    3,    4,    5,    6,    7,    8,    9,    10,   11, 12}));
}

TEST(Stun, AnswersAreReadOrRefusedWithTheReason) {
    // XOR-MAPPED-ADDRESS with port 0xA102 and address 0xE112A443: 32784 and 192.0.0.1.
    const auto xorAttr = Attr(0x0020, 1, 0xA102, 0xE112A443);
    const auto plainAttr = Attr(0x0001, 1, 3478, 0xCB00712D);  // 203.0.113.45 as it is
    const std::vector<uint8_t> software = {0x80, 0x22, 0x00, 0x03, 'a', 'b', 'c', 0x00};
    auto otherId = Answer(xorAttr);
    otherId[19] ^= 0xFF;
    auto badCookie = Answer(xorAttr);
    badCookie[5] = 0x13;
    auto errorClass = Answer(xorAttr);
    errorClass[0] = 0x01, errorClass[1] = 0x11;
    auto request = Answer(xorAttr);
    request[0] = 0x00, request[1] = 0x01;
    auto cut = Answer({});
    cut.pop_back();
    auto shortAttr = Attr(0x0020, 1, 0, 0);
    shortAttr[3] = 4;  // declared 4 bytes: too short to be read, so it is passed over
    shortAttr.resize(8);

    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        StunStatus status;
        Ipv4Address address{};
        uint16_t port = 0;
    };
    const std::vector<Case> cases = {
        {"xor-mapped", Answer(xorAttr), StunStatus::Mapped, Ipv4Address(192, 0, 0, 1), 32784},
        {"mapped, after an unknown padded attribute", Answer(Cat(software, plainAttr)),
         StunStatus::Mapped, Ipv4Address(203, 0, 113, 45), 3478},
        {"first address attribute wins", Answer(Cat(plainAttr, xorAttr)), StunStatus::Mapped,
         Ipv4Address(203, 0, 113, 45), 3478},
        {"short address attribute skipped", Answer(Cat(shortAttr, xorAttr)), StunStatus::Mapped,
         Ipv4Address(192, 0, 0, 1), 32784},
        {"19 bytes", cut, StunStatus::TooShort},
        {"empty", {}, StunStatus::TooShort},
        {"error response", errorClass, StunStatus::NotSuccess},
        {"a request", request, StunStatus::NotSuccess},
        {"wrong cookie", badCookie, StunStatus::BadCookie},
        {"other transaction", otherId, StunStatus::OtherTransaction},
        {"declared length past the end", Answer(xorAttr, 16), StunStatus::Truncated},
        {"attribute length past the end",
         Answer(Cat(software, {0x00, 0x20, 0x00, 0x40, 0x00, 0x01, 0x00, 0x00})),
         StunStatus::Truncated},
        {"attribute header cut", Answer({0x00, 0x20}), StunStatus::Truncated},
        {"IPv6 family", Answer(Attr(0x0020, 2, 1, 2)), StunStatus::NotIpv4},
        {"no attributes", Answer({}), StunStatus::NoAddress},
        {"only unknown attributes", Answer(software), StunStatus::NoAddress},
    };
    for (const Case& c : cases) {
        const StunAnswer answer = ParseBindingAnswer(c.bytes, kId);
        EXPECT_EQ(answer.status, c.status) << c.what;
        EXPECT_EQ(answer.address, c.address) << c.what;
        EXPECT_EQ(answer.port, c.port) << c.what;
    }
}

TEST(Stun, SuccessBuiltForAnAddressReadsBackToIt) {
    for (const bool xored : {true, false}) {
        const auto bytes = BuildBindingSuccess(kId, Ipv4Address(198, 51, 100, 7), 51234, xored);
        const StunAnswer answer = ParseBindingAnswer(bytes, kId);
        EXPECT_EQ(answer.status, StunStatus::Mapped);
        EXPECT_EQ(answer.address, Ipv4Address(198, 51, 100, 7));
        EXPECT_EQ(answer.port, 51234);
        EXPECT_EQ(bytes[21], xored ? 0x20 : 0x01);
    }
}

TEST(Stun, ServerTextIsHostWithAnOptionalPort) {
    const auto named = ParseStunServer("stun.lab.test");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->host, "stun.lab.test");
    EXPECT_EQ(named->port, kStunDefaultPort);
    const auto withPort = ParseStunServer("198.18.0.20:3479");
    ASSERT_TRUE(withPort);
    EXPECT_EQ(withPort->host, "198.18.0.20");
    EXPECT_EQ(withPort->port, 3479);
    for (const char* bad :
         {"", ":3478", "host:", "host:0", "host:65536", "host:34x", "a b", "host:1:2", "::1"}) {
        EXPECT_FALSE(ParseStunServer(bad)) << bad;
    }
}

}  // namespace
}  // namespace quillon
