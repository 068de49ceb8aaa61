#include "discovery/geo_location.h"

#include <array>
#include <charconv>
#include <cmath>
#include <exception>

#include "base/ipv4.h"
#include "base/json_value.h"
#include "base/standard_numbers.h"

namespace quillon {

namespace {

// The service's texts are names of places and operators; anything longer is not one.
constexpr size_t kMaxFieldBytes = 256;

std::string StringMember(const JsonValue& object, std::string_view key) {
    const JsonValue& value = object.member(key);
    if (value.type() != JsonType::String || value.asString().size() > kMaxFieldBytes) return {};
    return value.asString();
}

double NumberMember(const JsonValue& object, std::string_view key) {
    const JsonValue& value = object.member(key);
    if (value.type() == JsonType::Number) return value.asDouble();
    if (value.type() == JsonType::Integer) return static_cast<double>(value.asInteger());
    return 0;
}

// Coordinates off the globe (or not numbers at all) place the address nowhere.
void KeepOnGlobe(GeoLocation& g) {
    if (!std::isfinite(g.latitude) || !std::isfinite(g.longitude) || std::fabs(g.latitude) > 90 ||
        std::fabs(g.longitude) > 180) {
        g.latitude = 0;
        g.longitude = 0;
    }
}

std::string JoinNonEmpty(std::initializer_list<const std::string*> parts) {
    std::string out;
    for (const std::string* part : parts) {
        if (part->empty()) continue;
        if (!out.empty()) out += ", ";
        out += *part;
    }
    return out;
}

// The shortest text that reads back as the same number (-122.4194 stays -122.4194, so a
// place read from the file is where the service put it), whatever the process's locale.
void AppendCoordinate(std::string& out, double value) {
    std::array<char, 32> text{};
    const auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    out.append(text.data(), end);
}

}  // namespace

bool HasCoordinates(const GeoLocation& location) {
    return location.valid && !location.ip.empty() &&
           (location.latitude != 0 || location.longitude != 0);
}

bool IsPrivateOrReserved(std::string_view ipText) {
    if (ipText.empty()) return true;
    std::array<uint32_t, 4> parts{};
    size_t part = 0;
    for (const char c : ipText) {
        if (c == '.') {
            if (++part == 4) break;
        } else if (IsDecimalDigit(c)) {
            // Saturate instead of wrapping: 4294967306 is no more "10" than 300 is.
            parts[part] = std::min<uint32_t>(parts[part] * 10 + (c - '0'), 1000);
        }
    }
    const uint32_t a = parts[0];
    const uint32_t b = parts[1];
    return a == 10 || a == 127 || a == 0 || (a == 172 && b >= 16 && b <= 31) ||
           (a == 192 && b == 168) || (a == 169 && b == 254) || a >= 224;
}

bool IsPublicResolver(std::string_view ipText) {
    static constexpr std::array<std::string_view, 31> kResolvers = {
        "1.1.1.1",        "1.0.0.1",       "1.1.1.2",        "1.0.0.2",        "1.1.1.3",
        "1.0.0.3",        "8.8.8.8",       "8.8.4.4",        "9.9.9.9",        "9.9.9.10",
        "9.9.9.11",       "9.9.9.12",      "208.67.222.222", "208.67.220.220", "208.67.222.123",
        "208.67.220.123", "4.2.2.1",       "4.2.2.2",        "4.2.2.3",        "4.2.2.4",
        "4.2.2.5",        "4.2.2.6",       "64.6.64.6",      "64.6.65.6",      "8.26.56.26",
        "8.20.247.20",    "185.228.168.9", "185.228.169.9",  "94.140.14.14",   "94.140.15.15",
        "104.16.0.1"};
    for (const std::string_view resolver : kResolvers) {
        if (resolver == ipText) return true;
    }
    return false;
}

GeoLocation ParseGeoAnswer(std::string_view body) {
    GeoLocation g;
    try {
        const JsonValue root = JsonValue::parse(body);
        if (root.type() != JsonType::Object) return g;
        g.ip = StringMember(root, "ip");
        g.city = StringMember(root, "city");
        g.region = StringMember(root, "region");
        g.country = StringMember(root, "country");
        g.countryCode = g.country;
        g.isp = StringMember(root, "org");
        g.organization = g.isp;
        g.timezone = StringMember(root, "timezone");
        const std::string loc = StringMember(root, "loc");
        if (const size_t comma = loc.find(','); comma != std::string::npos) {
            g.latitude = ParseDecimal(std::string_view(loc).substr(0, comma));
            g.longitude = ParseDecimal(std::string_view(loc).substr(comma + 1));
        }
    } catch (const std::exception&) {
        // A malformed number ends the reading; what was read so far stands.
    }
    KeepOnGlobe(g);
    g.valid = !g.ip.empty();
    return g;
}

std::string SerializeGeoCache(const GeoCache& cache) {
    std::string out = "{\n";
    bool first = true;
    for (const auto& [ip, entry] : cache) {
        const GeoLocation& g = entry.location;
        if (!first) out += ",\n";
        first = false;
        out += "  " + JsonValue::escapeString(ip) + ": {\n    \"geolocation\": {\n";
        auto text = [&out](const char* key, const std::string& value) {
            out += std::string("      \"") + key + "\": " + JsonValue::escapeString(value) + ",\n";
        };
        auto number = [&out](const char* key, double value) {
            out += std::string("      \"") + key + "\": ";
            AppendCoordinate(out, value);
            out += ",\n";
        };
        text("ip", g.ip);
        text("city", g.city);
        text("region", g.region);
        text("country", g.country);
        text("countryCode", g.countryCode);
        number("latitude", g.latitude);
        number("longitude", g.longitude);
        text("isp", g.isp);
        text("organization", g.organization);
        out += "      \"timezone\": " + JsonValue::escapeString(g.timezone) + "\n";
        out += "    },\n    \"cachedAt\": " + std::to_string(entry.cachedAt) + "\n  }";
    }
    out += "\n}\n";
    return out;
}

std::optional<GeoCache> ParseGeoCache(std::string_view text) {
    JsonValue root;
    try {
        root = JsonValue::parse(text);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (root.type() != JsonType::Object) return std::nullopt;
    GeoCache cache;
    for (const auto& [key, value] : root.asObject()) {
        if (value.type() != JsonType::Object || !Ipv4Address::Parse(key)) continue;
        GeoCacheEntry entry;
        GeoLocation& g = entry.location;
        const JsonValue& stored = value.member("geolocation");
        g.ip = key;
        g.city = StringMember(stored, "city");
        g.region = StringMember(stored, "region");
        g.country = StringMember(stored, "country");
        g.countryCode = StringMember(stored, "countryCode");
        g.isp = StringMember(stored, "isp");
        g.organization = StringMember(stored, "organization");
        g.timezone = StringMember(stored, "timezone");
        g.latitude = NumberMember(stored, "latitude");
        g.longitude = NumberMember(stored, "longitude");
        KeepOnGlobe(g);
        g.valid = true;
        const JsonValue& at = value.member("cachedAt");
        if (at.type() == JsonType::Integer && at.asInteger() > 0) {
            entry.cachedAt = static_cast<uint64_t>(at.asInteger());
        } else if (at.type() == JsonType::Number && at.asDouble() > 0 && at.asDouble() < 1e18) {
            entry.cachedAt = static_cast<uint64_t>(at.asDouble());
        }
        cache[key] = std::move(entry);
    }
    return cache;
}

double DistanceMiles(double lat1, double lon1, double lat2, double lon2) {
    constexpr double kRadians = 0.017453292519943295;
    constexpr double kEarthRadiusMiles = 3959.0;
    const double dLat = (lat2 - lat1) * kRadians;
    const double dLon = (lon2 - lon1) * kRadians;
    const double sinLat = std::sin(dLat / 2);
    const double sinLon = std::sin(dLon / 2);
    const double h =
        sinLat * sinLat + std::cos(lat1 * kRadians) * std::cos(lat2 * kRadians) * sinLon * sinLon;
    return 2 * kEarthRadiusMiles * std::atan2(std::sqrt(h), std::sqrt(1 - h));
}

std::optional<uint32_t> AsnFromOrganization(const GeoLocation& location) {
    const std::string& org = location.isp;
    if (org.size() < 3 || org.compare(0, 2, "AS") != 0) return std::nullopt;
    uint64_t asn = 0;
    for (size_t i = 2; i < org.size() && IsDecimalDigit(org[i]); ++i) {
        asn = asn * 10 + static_cast<uint64_t>(org[i] - '0');
        if (asn > UINT32_MAX) return std::nullopt;  // no such AS
    }
    if (asn == 0) return std::nullopt;
    return static_cast<uint32_t>(asn);
}

std::optional<SatelliteProvider> SatelliteProviderFromAsn(uint32_t asn) {
    switch (asn) {
        case 14593:
            return SatelliteProvider::Starlink;
        case 7786:
            return SatelliteProvider::HughesNet;
        case 30600:
            return SatelliteProvider::Viasat;
        case 401307:
            return SatelliteProvider::OneWeb;
        default:
            return std::nullopt;
    }
}

const char* SatelliteProviderName(SatelliteProvider provider) {
    switch (provider) {
        case SatelliteProvider::Starlink:
            return "Starlink";
        case SatelliteProvider::HughesNet:
            return "HughesNet";
        case SatelliteProvider::Viasat:
            return "Viasat";
        case SatelliteProvider::OneWeb:
            return "OneWeb";
    }
    return "";
}

std::string FormatLocation(const GeoLocation& location) {
    return JoinNonEmpty({&location.city, &location.region, &location.country});
}

std::string FormatShortLocation(const GeoLocation& location) {
    return JoinNonEmpty({&location.city, &location.region});
}

}  // namespace quillon
