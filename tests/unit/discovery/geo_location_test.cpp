#include "discovery/geo_location.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quillon {
namespace {

TEST(GeoLocation, AddressesNeverLookedUp) {
    for (const char* ip : {"", "192.168.1.10", "10.0.0.1", "172.20.1.1", "169.254.3.4", "0.1.2.3",
                           "127.0.0.1", "239.1.1.1", "255.255.255.255"}) {
        EXPECT_TRUE(IsPrivateOrReserved(ip)) << ip;
    }
    for (const char* ip : {"172.32.0.1", "172.15.9.9", "100.64.0.1", "8.8.8.9", "203.0.113.5"}) {
        EXPECT_FALSE(IsPrivateOrReserved(ip)) << ip;
    }
    // Huge parts saturate rather than wrap round to a public-looking number.
    EXPECT_TRUE(IsPrivateOrReserved("4294967306.1.1.1"));
    EXPECT_TRUE(IsPublicResolver("8.8.8.8"));
    EXPECT_TRUE(IsPublicResolver("104.16.0.1"));
    EXPECT_FALSE(IsPublicResolver("8.8.8.9"));
    EXPECT_FALSE(IsPublicResolver(" 8.8.8.8"));
}

TEST(GeoLocation, ReadsTheServicesAnswer) {
    GeoLocation g = ParseGeoAnswer(
        R"({"ip":"81.2.69.160","city":"London","region":"England","country":"GB",)"
        R"("loc":"51.5074,-0.1278","org":"AS14593 Space Exploration","timezone":"Europe/London"})");
    EXPECT_TRUE(g.valid);
    EXPECT_EQ(g.city, "London");
    EXPECT_EQ(g.countryCode, "GB");
    EXPECT_EQ(g.organization, "AS14593 Space Exploration");
    EXPECT_DOUBLE_EQ(g.latitude, 51.5074);
    EXPECT_DOUBLE_EQ(g.longitude, -0.1278);
    EXPECT_EQ(FormatLocation(g), "London, England, GB");
    g.region.clear();
    EXPECT_EQ(FormatShortLocation(g), "London");
    ASSERT_EQ(AsnFromOrganization(g), 14593u);
    EXPECT_EQ(SatelliteProviderFromAsn(14593), SatelliteProvider::Starlink);
    EXPECT_EQ(SatelliteProviderFromAsn(401307), SatelliteProvider::OneWeb);
    EXPECT_FALSE(SatelliteProviderFromAsn(64500));

    // Odd answers: empty fields, never a crash, never a place made up.
    EXPECT_FALSE(ParseGeoAnswer(R"({"city":"London","loc":"1,2"})").valid);
    EXPECT_FALSE(ParseGeoAnswer("[1,2]").valid);
    EXPECT_FALSE(ParseGeoAnswer("").valid);
    g = ParseGeoAnswer(R"({"ip":"81.2.69.160","city":7,"loc":"north,2","org":"AS"})");
    EXPECT_TRUE(g.valid);
    EXPECT_EQ(g.city, "");
    EXPECT_FALSE(HasCoordinates(g));
    EXPECT_FALSE(AsnFromOrganization(g));
    for (const char* loc : {"nan,1", "1,inf", "91,0", "0,181", "12"}) {
        g = ParseGeoAnswer(std::string(R"({"ip":"81.2.69.160","loc":")") + loc + "\"}");
        EXPECT_FALSE(HasCoordinates(g)) << loc;
    }
    g = ParseGeoAnswer(R"({"ip":"81.2.69.160","city":")" + std::string(300, 'x') + "\"}");
    EXPECT_EQ(g.city, "");
    g.isp = "Comcast";
    EXPECT_FALSE(AsnFromOrganization(g));
    g.isp = "AS0 None";
    EXPECT_FALSE(AsnFromOrganization(g));
}

TEST(GeoLocation, GreatCircleMiles) {
    EXPECT_EQ(DistanceMiles(51.5, -0.12, 51.5, -0.12), 0);
    EXPECT_NEAR(DistanceMiles(0, 0, 0, 1), 69.1, 0.05);
    EXPECT_NEAR(DistanceMiles(51.5074, -0.1278, 40.7128, -74.006), 3461, 5);  // London-New York
}

TEST(GeoLocation, CacheFileLayoutAndReadingBack) {
    GeoCache cache;
    GeoLocation g{.ip = "81.2.69.160",
                  .city = "San \"Fran\"",
                  .region = "CA",
                  .country = "US",
                  .countryCode = "US",
                  .latitude = 37.7749,
                  .longitude = -122.4194,
                  .isp = "AS7922 Comcast",
                  .organization = "AS7922 Comcast",
                  .timezone = "America/Los_Angeles",
                  .valid = true};
    cache["81.2.69.160"] = {g, 1700000000};
    EXPECT_EQ(SerializeGeoCache(cache),
              "{\n"
              "  \"81.2.69.160\": {\n"
              "    \"geolocation\": {\n"
              "      \"ip\": \"81.2.69.160\",\n"
              "      \"city\": \"San \\\"Fran\\\"\",\n"
              "      \"region\": \"CA\",\n"
              "      \"country\": \"US\",\n"
              "      \"countryCode\": \"US\",\n"
              "      \"latitude\": 37.7749,\n"
              "      \"longitude\": -122.4194,\n"
              "      \"isp\": \"AS7922 Comcast\",\n"
              "      \"organization\": \"AS7922 Comcast\",\n"
              "      \"timezone\": \"America/Los_Angeles\"\n"
              "    },\n"
              "    \"cachedAt\": 1700000000\n"
              "  }\n"
              "}\n");
    GeoLocation bare;
    bare.ip = "1.2.3.4";
    cache["1.2.3.4"] = {bare, 5};
    const std::optional<GeoCache> back = ParseGeoCache(SerializeGeoCache(cache));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 2u);
    const GeoCacheEntry& entry = back->at("81.2.69.160");
    EXPECT_EQ(entry.location.city, "San \"Fran\"");
    EXPECT_EQ(entry.location.longitude, -122.4194);
    EXPECT_EQ(entry.cachedAt, 1700000000u);
    EXPECT_TRUE(entry.location.valid);

    // Not a cache: nothing, so that the caller sets the file aside.
    for (const char* text : {"", "garbage", "[]", "{\"1.2.3.4\": {\"cachedAt\": 1e999}}"}) {
        EXPECT_FALSE(ParseGeoCache(text)) << text;
    }
    // Entries that are not locations of addresses are dropped, the rest kept.
    const auto mixed = ParseGeoCache(
        R"({"x": {"cachedAt": 1}, "1.2.3.4": 5, "5.6.7.8": {"geolocation": {"city": 3,)"
        R"("latitude": 12}, "cachedAt": -4}})");
    ASSERT_TRUE(mixed);
    ASSERT_EQ(mixed->size(), 1u);
    EXPECT_EQ(mixed->at("5.6.7.8").location.latitude, 12);
    EXPECT_EQ(mixed->at("5.6.7.8").location.city, "");
    EXPECT_EQ(mixed->at("5.6.7.8").cachedAt, 0u);
}

}  // namespace
}  // namespace quillon
