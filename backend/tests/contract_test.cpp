#include "contract.h"

#include <gtest/gtest.h>

namespace quillon::server {
namespace {

TEST(ContractTest, VersionsReadAsTheAppReadsThem) {
    struct Case {
        const char* text;
        std::optional<Version> version;
        bool release;
    };
    const Case cases[] = {
        {"1.2.3", Version{1, 2, 3}, true},
        {"2.0", Version{2, 0, 0}, false},
        {"7", Version{7, 0, 0}, false},
        {"1.10.0-beta.2", Version{1, 10, 0}, false},
        {"1.2.3+build", Version{1, 2, 3}, false},
        {"1.2.3.4", std::nullopt, false},
        {"1..2", std::nullopt, false},
        {"1.2.", std::nullopt, false},
        {"1.2.3-", std::nullopt, false},
        {"v1.2.3", std::nullopt, false},
        {"", std::nullopt, false},
        {"1234567890.0.0", std::nullopt, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseVersion(c.text), c.version) << c.text;
        EXPECT_EQ(IsReleaseVersion(c.text), c.release) << c.text;
    }
    EXPECT_LT(*ParseVersion("1.9.0"), *ParseVersion("1.10.0"));
}

TEST(ContractTest, TimesAreIso8601Utc) {
    EXPECT_EQ(FormatIso8601Utc(1893456000), "2030-01-01T00:00:00Z");
    EXPECT_EQ(FormatIso8601Utc(1700000001), "2023-11-14T22:13:21Z");
}

}  // namespace
}  // namespace quillon::server
