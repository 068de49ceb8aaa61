// GeoLocation: where an IPv4 address is, as the IP-information service answers: place names,
// coordinates, the operator's organisation text and the time zone. The GeoIP service returns
// one per lookup (from its cache or the web) and the network state builder reads it on the UI
// thread for the ISP and destination segments. A plain value; valid is false when the address
// was not looked up (private, reserved, a public resolver) or the lookup failed.
//
// Beside it, the pure rules that go with locations: which addresses are never looked up, the
// service's answer read into a location, the cache file written and read back, distances,
// place texts and satellite operators recognised by AS number. Any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

struct GeoLocation {
    std::string ip;  // the address as text
    std::string city;
    std::string region;        // region or state
    std::string country;       // as the service gives it
    std::string countryCode;   // the service's country value
    double latitude = 0;       // degrees
    double longitude = 0;      // degrees
    std::string isp;           // organisation text, e.g. "AS64500 Example Cable"
    std::string organization;  // the same organisation text
    std::string timezone;
    bool valid = false;  // the lookup produced an answer
};

// Satellite internet operators recognised by AS number.
enum class SatelliteProvider : int { Starlink = 1, HughesNet = 2, Viasat = 3, OneWeb = 4 };

// A location is only worth showing (and measuring from) when the service placed it somewhere.
bool HasCoordinates(const GeoLocation& location);

// Addresses whose location says nothing about a path: empty text, this network (0/8), private
// (10/8, 172.16/12, 192.168/16), loopback, link-local, multicast and everything above. The
// text is read leniently as dotted decimal (stray characters ignored), as it always has been.
bool IsPrivateOrReserved(std::string_view ipText);
// The public resolvers' anycast addresses: answered from everywhere, located nowhere useful.
bool IsPublicResolver(std::string_view ipText);

// The service's JSON answer about one address; valid when it names an address. Members of the
// wrong type are read as empty; coordinates that are not finite or not on the globe as none.
GeoLocation ParseGeoAnswer(std::string_view body);

// The cache as kept: a location per address and when it was fetched (Unix seconds).
struct GeoCacheEntry {
    GeoLocation location;
    uint64_t cachedAt = 0;
};
using GeoCache = std::map<std::string, GeoCacheEntry, std::less<>>;

// The cache file's text, one member per line in address order.
std::string SerializeGeoCache(const GeoCache& cache);
// The file read back; nothing when it is not a JSON object of entries (a malformed number
// included), so that the caller can set it aside. Entries whose key is not an address are
// dropped.
std::optional<GeoCache> ParseGeoCache(std::string_view text);

// Haversine great-circle distance on a sphere of 3959 miles; points in degrees.
double DistanceMiles(double lat1, double lon1, double lat2, double lon2);
// The AS number that opens the organisation text ("AS14593 Example" gives 14593), if any.
std::optional<uint32_t> AsnFromOrganization(const GeoLocation& location);
std::optional<SatelliteProvider> SatelliteProviderFromAsn(uint32_t asn);
// The name shown for a satellite operator.
const char* SatelliteProviderName(SatelliteProvider provider);

// "City, Region, Country" (the ISP's location) and "City, Region" (the destination's), empty
// parts left out.
std::string FormatLocation(const GeoLocation& location);
std::string FormatShortLocation(const GeoLocation& location);

}  // namespace quillon
