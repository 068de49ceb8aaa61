#include "platform/sim/scenario_wifi.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "platform/sim/scenario_fields.h"

namespace quillon::sim {

namespace {

// Scenario texts for the Wlan port's numbers (the Windows WLAN enumerations).
const std::pair<const char*, uint32_t> kPhyTypes[] = {
    {"802.11a", 4},  {"802.11b", 5},   {"802.11g", 6},  {"802.11n", 7},
    {"802.11ac", 8}, {"802.11ax", 10}, {"802.11be", 11}};
const std::pair<const char*, uint32_t> kSecurity[] = {{"Open", 1},
                                                      {"WEP-Shared", 2},
                                                      {"WPA-Enterprise", 3},
                                                      {"WPA-Personal", 4},
                                                      {"WPA2-Enterprise", 6},
                                                      {"WPA2-Personal", 7},
                                                      {"WPA3-Enterprise", 8},
                                                      {"WPA3-Personal", 9},
                                                      {"OWE", 10}};
const std::pair<const char*, uint32_t> kCiphers[] = {{"None", 0},     {"WEP40", 1},  {"TKIP", 2},
                                                     {"CCMP", 4},     {"WEP104", 5}, {"GCMP", 8},
                                                     {"GCMP-256", 9}, {"WEP", 0x101}};

class WifiReader : public FieldReader {
public:
    bool Section(const JsonValue& value, const std::string& at, WifiConfig& wifi);
    bool Neighbors(const JsonValue& list, const std::string& at,
                   std::vector<WifiNeighborConfig>& out);

private:
    template <size_t N>
    bool Named(const JsonValue& object, std::string_view key, const std::string& at,
               const std::pair<const char*, uint32_t> (&table)[N], uint32_t& out);
    bool Frequency(const JsonValue& object, const std::string& at, uint32_t& mhz);
    bool Hex(const JsonValue& object, std::string_view key, const std::string& at,
             std::vector<uint8_t>& out);
};

template <size_t N>
bool WifiReader::Named(const JsonValue& object, std::string_view key, const std::string& at,
                       const std::pair<const char*, uint32_t> (&table)[N], uint32_t& out) {
    if (!object.contains(key)) return true;
    std::string text;
    if (!String(object, key, at, text)) return false;
    std::string known;
    for (const auto& [name, number] : table) {
        if (text == name) {
            out = number;
            return true;
        }
        known += (known.empty() ? "" : ", ") + std::string(name);
    }
    return Fail(Join(at, key), Quoted(text) + " is not one of " + known);
}

// "channel" with an optional "band" ("2.4 GHz", "5 GHz", "6 GHz"); channels 1 to 14 are 2.4 GHz
// and others 5 GHz unless the band says otherwise.
bool WifiReader::Frequency(const JsonValue& object, const std::string& at, uint32_t& mhz) {
    uint32_t channel = 0;
    std::string band;
    if (!Whole(object, "channel", at, channel, 1, 233) || !String(object, "band", at, band)) {
        return false;
    }
    if (band.empty()) band = channel <= 14 ? "2.4 GHz" : "5 GHz";
    if (band == "2.4 GHz") {
        if (channel > 14) return Fail(Join(at, "channel"), "2.4 GHz channels are 1 to 14");
        mhz = channel == 14 ? 2484 : 2407 + 5 * channel;
    } else if (band == "5 GHz") {
        if (channel < 34 || channel > 177)
            return Fail(Join(at, "channel"), "5 GHz channels are 34 to 177");
        mhz = 5000 + 5 * channel;
    } else if (band == "6 GHz") {
        mhz = 5950 + 5 * channel;
    } else {
        return Fail(Join(at, "band"), Quoted(band) + " is not \"2.4 GHz\", \"5 GHz\" or \"6 GHz\"");
    }
    return true;
}

bool WifiReader::Hex(const JsonValue& object, std::string_view key, const std::string& at,
                     std::vector<uint8_t>& out) {
    std::string text, digits;
    if (!String(object, key, at, text)) return false;
    for (char c : text) {
        if (c != ' ' && c != ':') digits += c;
    }
    if (digits.size() % 2 != 0) return Fail(Join(at, key), "odd number of hexadecimal digits");
    for (size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = digits.substr(i, 2);
        const long byte = std::strtol(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2)
            return Fail(Join(at, key), Quoted(pair) + " is not hexadecimal");
        out.push_back(uint8_t(byte));
    }
    return true;
}

bool WifiReader::Section(const JsonValue& value, const std::string& at, WifiConfig& wifi) {
    if (!Shape(value, at,
               {"ssid",        "bssid",    "signal", "rssi",    "channel",  "band",      "width",
                "phy",         "security", "cipher", "rxMbps",  "txMbps",   "connected", "stations",
                "utilization", "streams",  "muMimo", "country", "elements", "neighbors"},
               {"ssid", "bssid", "signal", "channel"})) {
        return false;
    }
    double rx = 0, tx = 0;
    if (!String(value, "ssid", at, wifi.ssid) || !Mac(value, "bssid", at, wifi.bssid) ||
        !Whole(value, "signal", at, wifi.signalQuality, 0, 100) ||
        !Frequency(value, at, wifi.frequencyMhz) ||
        !Named(value, "phy", at, kPhyTypes, wifi.phyType) ||
        !Named(value, "security", at, kSecurity, wifi.authAlgorithm) ||
        !Named(value, "cipher", at, kCiphers, wifi.cipherAlgorithm) ||
        !Number(value, "rxMbps", at, rx, 0, 100000) ||
        !Number(value, "txMbps", at, tx, 0, 100000) ||
        !Bool(value, "connected", at, wifi.connected) ||
        !Whole(value, "stations", at, wifi.stationCount, 0, 65535) ||
        !Whole(value, "utilization", at, wifi.channelUtilization, 0, 100) ||
        !Whole(value, "streams", at, wifi.spatialStreams, 1, 8) ||
        !Bool(value, "muMimo", at, wifi.muMimo) ||
        !String(value, "country", at, wifi.countryCode)) {
        return false;
    }
    if (value.contains("rssi")) {
        // Whole() reads non-negative numbers only; dBm are negative.
        double rssi = 0;
        if (!Number(value, "rssi", at, rssi, -120, 0)) return false;
        wifi.rssiDbm = int32_t(std::lround(rssi));
    }
    if (value.contains("width")) {
        if (!Whole(value, "width", at, wifi.channelWidth, 20, 320)) return false;
        const uint32_t w = wifi.channelWidth;
        if (w != 20 && w != 40 && w != 80 && w != 160 && w != 320) {
            return Fail(Join(at, "width"), std::to_string(w) + " is not 20, 40, 80, 160 or 320");
        }
    }
    if (!wifi.countryCode.empty() && wifi.countryCode.size() != 2) {
        return Fail(Join(at, "country"), Quoted(wifi.countryCode) + " is not two letters");
    }
    wifi.rxRateKbps = uint32_t(std::lround(rx * 1000));
    wifi.txRateKbps = uint32_t(std::lround(tx * 1000));
    if (value.contains("elements")) {
        wifi.hasRawElements = true;
        if (!Hex(value, "elements", at, wifi.rawElements)) return false;
    }
    return !value.contains("neighbors") ||
           Neighbors(value.member("neighbors"), Join(at, "neighbors"), wifi.neighbors);
}

bool WifiReader::Neighbors(const JsonValue& list, const std::string& at,
                           std::vector<WifiNeighborConfig>& out) {
    if (!Kind(list, JsonType::Array, at)) return false;
    for (size_t i = 0; i < list.asArray().size(); ++i) {
        const JsonValue& item = list.asArray()[i];
        const std::string where = Index(at, i);
        WifiNeighborConfig neighbor;
        double rssi = neighbor.rssiDbm;
        if (!Shape(item, where, {"ssid", "bssid", "channel", "band", "rssi"},
                   {"bssid", "channel"}) ||
            !String(item, "ssid", where, neighbor.ssid) ||
            !Mac(item, "bssid", where, neighbor.bssid) ||
            !Frequency(item, where, neighbor.frequencyMhz) ||
            !Number(item, "rssi", where, rssi, -120, 0)) {
            return false;
        }
        neighbor.rssiDbm = int32_t(std::lround(rssi));
        out.push_back(std::move(neighbor));
    }
    return true;
}

}  // namespace

bool ReadWifiSection(const JsonValue& value, const std::string& at, WifiConfig& wifi,
                     std::string& error) {
    WifiReader reader;
    if (reader.Section(value, at, wifi)) return true;
    error = reader.error();
    return false;
}

bool ReadWifiNeighbors(const JsonValue& list, const std::string& at,
                       std::vector<WifiNeighborConfig>& neighbors, std::string& error) {
    WifiReader reader;
    if (reader.Neighbors(list, at, neighbors)) return true;
    error = reader.error();
    return false;
}

}  // namespace quillon::sim
