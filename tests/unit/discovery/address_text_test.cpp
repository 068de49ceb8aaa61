#include "discovery/address_text.h"

#include <gtest/gtest.h>

#include <string_view>

namespace quillon {
namespace {

TEST(MacTextTest, UpperCaseHexWithColonsFromTheFirstSixBytes) {
    EXPECT_EQ(FormatMac(MacAddress{0x00, 0x1A, 0xFF, 0x0b, 0xC0, 0x01}), "00:1A:FF:0B:C0:01");
    const uint8_t longer[8] = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x09, 0x77, 0x88};
    EXPECT_EQ(FormatMac(longer), "DE:AD:BE:EF:00:09");
}

TEST(PrivateAddressTest, RangesAndTheirEdges) {
    const Ipv4Address inside[] = {
        Ipv4Address(10, 0, 0, 0),    Ipv4Address(10, 255, 255, 255),
        Ipv4Address(172, 16, 0, 0),  Ipv4Address(172, 31, 255, 255),
        Ipv4Address(192, 168, 0, 1), Ipv4Address(169, 254, 1, 1),
        Ipv4Address(100, 64, 0, 0),  Ipv4Address(100, 127, 255, 255),
    };
    const Ipv4Address outside[] = {
        Ipv4Address(9, 255, 255, 255),  Ipv4Address(11, 0, 0, 0),
        Ipv4Address(172, 15, 255, 255), Ipv4Address(172, 32, 0, 0),
        Ipv4Address(192, 167, 0, 1),    Ipv4Address(192, 169, 0, 1),
        Ipv4Address(169, 253, 1, 1),    Ipv4Address(100, 63, 255, 255),
        Ipv4Address(100, 128, 0, 0),    Ipv4Address(8, 8, 8, 8),
        Ipv4Address(1, 0, 0, 10),       Ipv4Address(1, 1, 168, 192),
    };
    for (Ipv4Address a : inside) EXPECT_TRUE(IsPrivateAddress(a)) << a.Text();
    for (Ipv4Address a : outside) EXPECT_FALSE(IsPrivateAddress(a)) << a.Text();
}

}  // namespace
}  // namespace quillon
