#include "path/traceroute.h"

#include <gtest/gtest.h>

#include "discovery/address_text.h"

namespace quillon {
namespace {

constexpr uint32_t kDest = MakeIpv4(1, 1, 1, 1);

TEST(Traceroute, LabelsFollowTheFirstRuleThatApplies) {
    // The first hop is local even when public with AS data.
    EXPECT_EQ(LabelHop(1, MakeIpv4(203, 0, 113, 1), kDest, "64500", "13335", "64500"), "LOCAL");
    // The destination itself, or its AS.
    EXPECT_EQ(LabelHop(4, kDest, kDest, "", "13335", "64500"), "DEST");
    EXPECT_EQ(LabelHop(3, MakeIpv4(198, 51, 100, 1), kDest, "13335", "13335", "64500"), "DEST");
    // Private without AS data, carrier-grade NAT included.
    EXPECT_EQ(LabelHop(2, MakeIpv4(100, 64, 0, 1), kDest, "", "13335", ""), "LOCAL");
    EXPECT_EQ(LabelHop(2, MakeIpv4(10, 1, 2, 3), kDest, "", "", ""), "LOCAL");
    // Private with AS data is judged by the AS.
    EXPECT_EQ(LabelHop(2, MakeIpv4(10, 1, 2, 3), kDest, "64500", "", "64500"), "ISP");
    EXPECT_EQ(LabelHop(5, MakeIpv4(198, 51, 100, 9), kDest, "64500", "", "64500"), "ISP");
    EXPECT_EQ(LabelHop(5, MakeIpv4(198, 51, 100, 9), kDest, "", "", "64500"), "?");
    EXPECT_EQ(LabelHop(5, MakeIpv4(198, 51, 100, 9), kDest, "3356", "13335", "64500"), "TRANS");
    // An empty destination AS never matches an empty hop AS.
    EXPECT_EQ(LabelHop(5, MakeIpv4(198, 51, 100, 9), kDest, "", "", ""), "?");
}

}  // namespace
}  // namespace quillon
