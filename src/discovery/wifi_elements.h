// The access point's beacon, read: a pure walk over the raw information elements a scan result
// carries (bytes in, facts out), and the small conversions the WiFi query shares with it
// (frequency to channel and band, the Windows WLAN numbers to names, quality to dBm, SSID bytes
// to safe text). Pure functions over untrusted bytes: never read outside the given range; any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// What one access point's elements say.
struct BssIeSummary {
    uint32_t channelWidth = 20;       // MHz; a later element overrides an earlier one
    int32_t stationCount = -1;        // BSS Load; -1 when absent
    int32_t channelUtilization = -1;  // BSS Load, percent; -1 when absent
    uint32_t spatialStreams = 0;      // HE, else VHT, else HT receive streams
    bool muMimo = false;
    std::string countryCode;  // two characters, control bytes replaced
    bool isMlo = false;       // a Basic Multi-Link element is present
    std::string mldAddress;   // "AA:BB:CC:DD:EE:FF" from that element, when it carries one
};

// Walks (id, length, body) elements from the start; stops at the first element whose declared
// length runs past the end, keeping what came before.
BssIeSummary ParseBssInformationElements(const uint8_t* data, size_t length);
inline BssIeSummary ParseBssInformationElements(const std::vector<uint8_t>& elements) {
    return ParseBssInformationElements(elements.data(), elements.size());
}

int32_t ChannelFromFrequency(uint32_t mhz);
std::string BandFromFrequency(uint32_t mhz);

// Windows WLAN numbering (DOT11_PHY_TYPE, DOT11_AUTH_ALGORITHM, DOT11_CIPHER_ALGORITHM);
// anything not named is "Unknown".
std::string PhyTypeName(uint32_t value);
std::string AuthenticationName(uint32_t value);
std::string CipherName(uint32_t value);

// The estimated dBm shown for a 0..100 link quality.
int32_t SignalStrengthFromQuality(uint32_t quality);

// Network name bytes as text the page can show: at most 32 bytes, cut at the first zero byte,
// invalid UTF-8 and control characters each replaced by U+FFFD.
std::string SsidText(const std::vector<uint8_t>& ssid);

}  // namespace quillon
