// WifiDetails: what the computer's wireless link looks like right now: network name, access
// point, signal, channel, band and width, PHY generation, security, rates, and what the access
// point's beacon elements reveal (load, spatial streams, MU-MIMO, country, multi-link links),
// plus how many other access points are heard. A plain value: the WiFi query fills one on the
// UI thread when the network state is built, and the diagnosis and the state message read it.
// A default-constructed record is the one for which nothing was learned (connected false).
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quillon {

// One radio link of a multi-link connection.
struct MloLink {
    int32_t channel = 0;
    uint32_t frequency = 0;     // centre frequency, MHz
    std::string band;           // "2.4 GHz", "5 GHz", "6 GHz" or "Unknown"
    uint32_t channelWidth = 0;  // MHz
};

// Links of a multi-link connection beyond this many are not kept.
inline constexpr uint32_t kMaxMloLinks = 3;

struct WifiDetails {
    std::string ssid;            // network name, decoded as UTF-8
    uint32_t signalQuality = 0;  // the system's link quality, 0..100
    int32_t signalStrength = 0;  // estimated dBm
    int32_t channel = 0;
    uint32_t frequency = 0;           // centre frequency, MHz
    std::string band;                 // "2.4 GHz", "5 GHz", "6 GHz" or "Unknown"
    uint32_t channelWidth = 0;        // MHz: 20, 40, 80, 160 or 320
    std::string bssid;                // "AA:BB:CC:DD:EE:FF"
    std::string phyType;              // "802.11ax", ...
    std::string authentication;       // "WPA2-Personal", ...; shown as the security
    std::string cipher;               // "CCMP", ...
    double rxRate = 0;                // Mbps
    double txRate = 0;                // Mbps
    bool connected = false;           // the current-connection query succeeded
    int32_t stationCount = -1;        // from the BSS Load element; -1 when absent
    int32_t channelUtilization = -1;  // busy percentage 0..100; -1 when absent
    uint32_t spatialStreams = 0;      // receive streams the access point supports
    bool muMimo = false;              // the access point advertises MU-MIMO
    std::string countryCode;          // two characters from the Country element
    uint32_t coChannelAPs = 0;        // other access points heard on the same channel
    uint32_t neighborAPs = 0;         // other access points heard on any channel
    bool isMlo = false;               // a multi-link connection
    uint32_t mloLinkCount = 0;        // valid entries of mloLinks, at most kMaxMloLinks
    std::array<MloLink, kMaxMloLinks> mloLinks{};
};

}  // namespace quillon
