#include "discovery/geoip_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_service_ports.h"
#include "fakes/log_capture.h"
#include "net/http_client.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

// A service that places every address it is asked about, unless told otherwise.
struct GeoRig {
    GeoRig() {
        client.Init();
        http.answer = [this](const HttpExchange& exchange) {
            const std::string ip = exchange.url.substr(20, exchange.url.size() - 25);
            return test::Answered(
                status,
                body.empty() ? R"({"ip":")" + ip + R"(","city":"Leeds","loc":"53.8,-1.5"})" : body);
        };
    }
    GeoIpService Service() {
        return GeoIpService(GeoIpPorts{system, clock, threads, &files, &client}, "geo.example");
    }
    std::string CacheFile() const { return system.Root() + "/ip_geolocation_cache.json"; }
    size_t Requests() { return http.Sent().size(); }

    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads;  // inline: a queued fetch is done when Lookup returns
    test::FakeHttp http;
    HttpClient client{http};
    test::FakeFiles files;
    test::TestLog log{system, clock};
    int status = 200;
    std::string body;
};

TEST(GeoIpService, LooksUpOnAWorkerOnceAndNeverThePrivateOrResolvers) {
    GeoRig rig;
    GeoIpService service = rig.Service();
    service.Initialize();
    for (const char* ip : {"192.168.1.10", "10.0.0.1", "239.1.1.1", "8.8.8.8", ""}) {
        EXPECT_FALSE(service.Lookup(ip).valid);
    }
    EXPECT_EQ(rig.Requests(), 0u);

    // The first lookup answers nothing and fetches; the answer is there for the next one.
    EXPECT_FALSE(service.Lookup("100.64.0.1").valid);
    ASSERT_EQ(rig.Requests(), 1u);
    EXPECT_EQ(rig.http.Sent()[0].url, "https://geo.example/100.64.0.1/json");
    EXPECT_EQ(service.Changes(), 1u);
    const GeoLocation place = service.Lookup("100.64.0.1");
    EXPECT_TRUE(place.valid);
    EXPECT_EQ(place.city, "Leeds");
    EXPECT_EQ(rig.Requests(), 1u);

    // A failure is not cached and is not asked again at every build.
    rig.status = 500;
    EXPECT_FALSE(service.Lookup("8.8.8.9").valid);
    EXPECT_FALSE(service.Lookup("8.8.8.9").valid);
    EXPECT_EQ(rig.Requests(), 2u);
    rig.clock.Advance(GeoIpService::kRetryMs);
    rig.status = 200;
    service.Lookup("8.8.8.9");
    EXPECT_TRUE(service.Lookup("8.8.8.9").valid);
    EXPECT_EQ(rig.Requests(), 3u);

    // Rate limited: nothing is asked until the pause is over.
    rig.status = 429;
    service.Lookup("172.32.0.1");
    rig.status = 200;
    service.Lookup("172.32.0.2");
    EXPECT_EQ(rig.Requests(), 4u);
    rig.clock.Advance(GeoIpService::kRateLimitedMs);
    service.Lookup("172.32.0.2");
    EXPECT_TRUE(service.Lookup("172.32.0.2").valid);

    // An answer about another address, or one too large, places nothing.
    rig.body = R"({"ip":"203.0.113.9","city":"Elsewhere","loc":"1,1"})";
    service.Lookup("203.0.113.10");
    rig.body = R"({"ip":"203.0.113.11","city":")" + std::string(70000, 'x') + "\"}";
    service.Lookup("203.0.113.11");
    EXPECT_FALSE(service.Lookup("203.0.113.10").valid);
    EXPECT_FALSE(service.Lookup("203.0.113.11").valid);
    EXPECT_EQ(rig.log.Lines({"GeoIP"}),
              (std::vector<std::string>{
                  "[INFO] GeoIP service initialized with 0 cached entries",
                  "[ERROR] GeoIP request failed with status 500", "[WARN] GeoIP rate limited (429)",
                  "[WARN] GeoIP answer for 203.0.113.10 names 203.0.113.9 - ignored",
                  "[WARN] GeoIP answer for 203.0.113.11 too large - ignored"}));
}

GeoLocation Place(const std::string& ip, const std::string& city) {
    GeoLocation g;
    g.ip = ip;
    g.city = city;
    g.valid = true;
    return g;
}

TEST(GeoIpService, CacheFileKeptForAYearSavedEveryTenthAndSetAsideWhenGarbage) {
    GeoRig rig;
    const int64_t now = rig.clock.UnixSeconds();
    GeoCache old;
    old["81.2.69.1"] = {Place("81.2.69.1", "Young"), static_cast<uint64_t>(now - 364 * 86400)};
    old["81.2.69.2"] = {Place("81.2.69.2", "Old"), static_cast<uint64_t>(now - 365 * 86400)};
    std::ofstream(rig.CacheFile()) << SerializeGeoCache(old);
    {
        GeoIpService service = rig.Service();
        service.Initialize();
        EXPECT_EQ(service.Lookup("81.2.69.1").city, "Young");
        EXPECT_FALSE(service.Lookup("81.2.69.2").valid);  // fetched again
        EXPECT_EQ(service.Lookup("81.2.69.2").city, "Leeds");
        EXPECT_EQ(rig.Requests(), 1u);

        // Entries 3 to 9 only mark the cache changed; the tenth writes the file.
        const auto fileEntries = [&] {
            std::ifstream in(rig.CacheFile(), std::ios::binary);
            return ParseGeoCache(std::string(std::istreambuf_iterator<char>(in), {}));
        };
        for (int i = 3; i <= 9; ++i) service.Lookup("81.2.69." + std::to_string(i));
        EXPECT_EQ(fileEntries()->size(), 2u);
        service.Lookup("81.2.69.10");
        EXPECT_EQ(fileEntries()->size(), 10u);
        service.Lookup("81.2.69.11");
        EXPECT_EQ(fileEntries()->size(), 10u);

        // A failed save keeps the change for the next one.
        rig.files.fail = true;
        EXPECT_FALSE(service.SaveIfDirty());
        rig.files.fail = false;
        EXPECT_TRUE(service.SaveIfDirty());
        EXPECT_EQ(fileEntries()->size(), 11u);
        EXPECT_TRUE(service.Stop(std::chrono::milliseconds(100)));
    }
    {
        GeoIpService service = rig.Service();
        service.Initialize();
        EXPECT_EQ(service.CachedCount(), 11u);
    }

    std::ofstream(rig.CacheFile(), std::ios::trunc) << "\x01\x02 not a cache";
    GeoIpService service = rig.Service();
    service.Initialize();
    EXPECT_EQ(service.CachedCount(), 0u);
    EXPECT_TRUE(std::filesystem::exists(rig.CacheFile() + ".corrupt"));
    EXPECT_FALSE(std::filesystem::exists(rig.CacheFile()));
    EXPECT_EQ(rig.log.Lines({"set aside"}).size(), 1u);
}

}  // namespace
}  // namespace quillon
