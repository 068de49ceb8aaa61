// GeoLocation: where an IPv4 address is, as the IP-information service answers: place names,
// coordinates, the operator's organisation text and the time zone. The GeoIP service returns
// one per lookup (from its cache or the web) and the network state builder reads it on the UI
// thread for the ISP and destination segments. A plain value; valid is false when the address
// was not looked up (private, reserved, a public resolver) or the lookup failed.
#pragma once

#include <string>

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

}  // namespace quillon
