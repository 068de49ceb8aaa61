// Fuzzes the readers of the GeoIP service's texts: the cache file and the service's answer.
// Beyond not crashing: a cache read back is written and read again to the same entries (a
// cache file never changes by being loaded and saved); every entry's key is an address and
// its coordinates are on the globe; an answer is valid exactly when it names an address, and
// its coordinates are on the globe too.
#include <cmath>
#include <cstdint>
#include <string_view>

#include "base/ipv4.h"
#include "discovery/geo_location.h"
#include "fuzz_check.h"

namespace {

bool OnGlobe(const quillon::GeoLocation& g) {
    return std::isfinite(g.latitude) && std::isfinite(g.longitude) && std::fabs(g.latitude) <= 90 &&
           std::fabs(g.longitude) <= 180;
}

bool SameEntry(const quillon::GeoCacheEntry& a, const quillon::GeoCacheEntry& b) {
    const quillon::GeoLocation& x = a.location;
    const quillon::GeoLocation& y = b.location;
    return a.cachedAt == b.cachedAt && x.ip == y.ip && x.city == y.city && x.region == y.region &&
           x.country == y.country && x.countryCode == y.countryCode && x.latitude == y.latitude &&
           x.longitude == y.longitude && x.isp == y.isp && x.organization == y.organization &&
           x.timezone == y.timezone;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    if (const auto cache = quillon::ParseGeoCache(text)) {
        for (const auto& [ip, entry] : *cache) {
            Check(quillon::Ipv4Address::Parse(ip).has_value() && entry.location.ip == ip);
            Check(entry.location.valid && OnGlobe(entry.location));
        }
        const auto again = quillon::ParseGeoCache(quillon::SerializeGeoCache(*cache));
        Check(again.has_value() && again->size() == cache->size());
        for (const auto& [ip, entry] : *cache) Check(SameEntry(entry, again->at(ip)));
    }

    const quillon::GeoLocation answer = quillon::ParseGeoAnswer(text);
    Check(answer.valid == !answer.ip.empty());
    Check(OnGlobe(answer));
    if (quillon::HasCoordinates(answer)) {
        const double miles = quillon::DistanceMiles(answer.latitude, answer.longitude, 0, 0);
        Check(miles >= 0 && miles <= 12500);
    }
    return 0;
}
