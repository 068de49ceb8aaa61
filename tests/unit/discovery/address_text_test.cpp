#include "discovery/address_text.h"

#include <gtest/gtest.h>

#include <string_view>

namespace quillon {
namespace {

static_assert(Ipv4(1, 2, 3, 4) == 0x04030201);

TEST(Ipv4TextTest, FormatsAndParsesFirstOctetFromTheLowestByte) {
    EXPECT_EQ(Ipv4ToText(0x04030201), "1.2.3.4");
    EXPECT_EQ(Ipv4ToText(0), "0.0.0.0");
    EXPECT_EQ(Ipv4ToText(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(Ipv4ToText(Ipv4(192, 0, 2, 1)), "192.0.2.1");
    EXPECT_EQ(Ipv4ToText(Ipv4(10, 99, 100, 9)), "10.99.100.9");

    EXPECT_EQ(ParseIpv4("1.2.3.4"), 0x04030201u);
    EXPECT_EQ(ParseIpv4("0.0.0.0"), 0u);
    EXPECT_EQ(ParseIpv4("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(ParseIpv4("10.0.100.9"), Ipv4(10, 0, 100, 9));
    for (uint32_t address : {Ipv4(203, 0, 113, 250), Ipv4(0, 99, 1, 200)}) {
        EXPECT_EQ(ParseIpv4(Ipv4ToText(address)), address);
    }
}

TEST(Ipv4TextTest, ParseRefusesAnythingButTheStrictDottedQuad) {
    const std::string_view refused[] = {
        "",          "256.1.1.1", "1.2.3.256", "1.2.3",       "1.2.3.4.5",  "01.2.3.4",
        "1.2.3.04",  "1.2.3.00",  "router",    "example.com", " 1.2.3.4",   "1.2.3.4 ",
        "+1.2.3.4",  "1.-2.3.4",  "1..3.4",    ".1.2.3",      "1.2.3.",     "1234.1.1.1",
        "0x1.2.3.4", "1.2.3.4\n", "1,2,3,4",   "1.2.3.4/24",  "1.2.3.4:80", "999.1.1.1",
    };
    for (std::string_view text : refused) EXPECT_FALSE(ParseIpv4(text)) << "'" << text << "'";
    EXPECT_FALSE(ParseIpv4(std::string_view("1.2.3.4\0", 8)));
}

TEST(MacTextTest, UpperCaseHexWithColonsFromTheFirstSixBytes) {
    EXPECT_EQ(FormatMac(MacAddress{0x00, 0x1A, 0xFF, 0x0b, 0xC0, 0x01}), "00:1A:FF:0B:C0:01");
    const uint8_t longer[8] = {0xde, 0xad, 0xbe, 0xef, 0x00, 0x09, 0x77, 0x88};
    EXPECT_EQ(FormatMac(longer), "DE:AD:BE:EF:00:09");
}

TEST(PrivateAddressTest, RangesAndTheirEdges) {
    const uint32_t inside[] = {
        Ipv4(10, 0, 0, 0),       Ipv4(10, 255, 255, 255),  Ipv4(172, 16, 0, 0),
        Ipv4(172, 31, 255, 255), Ipv4(192, 168, 0, 1),     Ipv4(169, 254, 1, 1),
        Ipv4(100, 64, 0, 0),     Ipv4(100, 127, 255, 255),
    };
    const uint32_t outside[] = {
        Ipv4(9, 255, 255, 255), Ipv4(11, 0, 0, 0),       Ipv4(172, 15, 255, 255),
        Ipv4(172, 32, 0, 0),    Ipv4(192, 167, 0, 1),    Ipv4(192, 169, 0, 1),
        Ipv4(169, 253, 1, 1),   Ipv4(100, 63, 255, 255), Ipv4(100, 128, 0, 0),
        Ipv4(8, 8, 8, 8),       Ipv4(1, 0, 0, 10),       Ipv4(1, 1, 168, 192),
    };
    for (uint32_t a : inside) EXPECT_TRUE(IsPrivateAddress(a)) << Ipv4ToText(a);
    for (uint32_t a : outside) EXPECT_FALSE(IsPrivateAddress(a)) << Ipv4ToText(a);
}

}  // namespace
}  // namespace quillon
