#include "base/ipv4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

namespace quillon {
namespace {

static_assert(Ipv4Address(1, 2, 3, 4).NetworkOrder() == 0x04030201);
static_assert(Ipv4Address::FromNetworkOrder(0x04030201) == Ipv4Address(1, 2, 3, 4));
static_assert(Ipv4Address().IsZero() && !Ipv4Address(0, 0, 0, 1).IsZero());
static_assert((Ipv4Address(192, 0, 2, 77) & Ipv4Address(255, 255, 240, 0)) ==
              Ipv4Address(192, 0, 0, 0));
static_assert(Ipv4Address(192, 0, 2, 7).Octet(0) == 192 && Ipv4Address(192, 0, 2, 7).Octet(3) == 7);

TEST(Ipv4AddressTest, TextAndParseAgreeOnTheDottedQuad) {
    const struct {
        std::string_view text;
        Ipv4Address address;
    } cases[] = {
        {"1.2.3.4", Ipv4Address::FromNetworkOrder(0x04030201)},
        {"0.0.0.0", Ipv4Address()},
        {"255.255.255.255", Ipv4Address::FromNetworkOrder(0xFFFFFFFF)},
        {"10.0.100.9", Ipv4Address(10, 0, 100, 9)},
        {"0.99.1.200", Ipv4Address(0, 99, 1, 200)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.address.Text(), c.text);
        EXPECT_EQ(Ipv4Address::Parse(c.text), c.address) << c.text;
    }
}

TEST(Ipv4AddressTest, ParseRefusesAnythingButTheStrictDottedQuad) {
    const std::string_view refused[] = {
        "",          "256.1.1.1", "1.2.3.256", "1.2.3",       "1.2.3.4.5",  "01.2.3.4",
        "1.2.3.04",  "1.2.3.00",  "router",    "example.com", " 1.2.3.4",   "1.2.3.4 ",
        "+1.2.3.4",  "1.-2.3.4",  "1..3.4",    ".1.2.3",      "1.2.3.",     "1234.1.1.1",
        "0x1.2.3.4", "1.2.3.4\n", "1,2,3,4",   "1.2.3.4/24",  "1.2.3.4:80", "999.1.1.1",
    };
    for (std::string_view text : refused) {
        EXPECT_FALSE(Ipv4Address::Parse(text)) << "'" << text << "'";
    }
    EXPECT_FALSE(Ipv4Address::Parse(std::string_view("1.2.3.4\0", 8)));
}

TEST(Ipv4AddressTest, SortsInDottedQuadOrder) {
    std::vector<Ipv4Address> addresses = {Ipv4Address(10, 0, 1, 1), Ipv4Address(9, 255, 0, 0),
                                          Ipv4Address(10, 0, 0, 2), Ipv4Address(192, 0, 0, 1)};
    std::sort(addresses.begin(), addresses.end());
    const std::vector<Ipv4Address> sorted = {Ipv4Address(9, 255, 0, 0), Ipv4Address(10, 0, 0, 2),
                                             Ipv4Address(10, 0, 1, 1), Ipv4Address(192, 0, 0, 1)};
    EXPECT_EQ(addresses, sorted);
}

}  // namespace
}  // namespace quillon
