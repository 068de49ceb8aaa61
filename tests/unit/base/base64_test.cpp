#include "base/base64.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(Base64, RoundTripsAndRejectsDamage) {
    EXPECT_EQ(Base64Encode({}), "");
    EXPECT_EQ(Base64Encode({'f'}), "Zg==");
    EXPECT_EQ(Base64Encode({'f', 'o'}), "Zm8=");
    EXPECT_EQ(Base64Encode({'f', 'o', 'o'}), "Zm9v");
    for (size_t n = 0; n < 40; ++n) {
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 37 + 250);
        EXPECT_EQ(Base64Decode(Base64Encode(bytes)), bytes) << n;
    }
    for (const char* bad : {"Zg=", "Z===", "Zg=a", "Zm9v!AAA", "=AAA", "Zg==Zg=="}) {
        EXPECT_FALSE(Base64Decode(bad)) << bad;
    }
    // Web tokens: URL-safe digits, no padding.
    EXPECT_EQ(Base64UrlDecode("-_8"), (std::vector<uint8_t>{0xfb, 0xff}));
    EXPECT_EQ(Base64UrlDecode("Zm9vYg"), (std::vector<uint8_t>{'f', 'o', 'o', 'b'}));
    EXPECT_FALSE(Base64UrlDecode("Zm9vY"));  // one digit cannot end a group
    EXPECT_FALSE(Base64UrlDecode("Zm+v"));
}

}  // namespace
}  // namespace quillon
