#include "platform/sim/sim_wlan.h"

#include <algorithm>
#include <string>

namespace quillon::sim {

namespace {

void Element(std::vector<uint8_t>& out, uint8_t id, const std::vector<uint8_t>& body) {
    out.push_back(id);
    out.push_back(uint8_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

// A receive MCS map with MCS 0-9 on the first `streams` streams and the rest not supported.
uint16_t McsMap(uint32_t streams) {
    uint16_t map = 0xFFFF;
    for (uint32_t i = 0; i < streams && i < 8; ++i)
        map &= uint16_t(~(0x3u << (2 * i)) | (0x2u << (2 * i)));
    return map;
}

bool Is6Ghz(uint32_t mhz) {
    return mhz >= 5925;
}

std::vector<uint8_t> SsidElement(const std::string& ssid) {
    std::vector<uint8_t> out;
    Element(out, 0,
            std::vector<uint8_t>(ssid.begin(), ssid.begin() + std::min<size_t>(ssid.size(), 32)));
    return out;
}

class SimWlanClient final : public WlanClient {
public:
    explicit SimWlanClient(SimWorld& world) : world_(world) {}

    bool ListInterfaces(std::vector<WlanInterfaceInfo>& out) override {
        out.clear();
        for (const WifiConfig& wifi : world_.Wifi()) {
            out.push_back(
                {std::to_string(wifi.ifIndex), "Simulated wireless adapter", wifi.connected});
        }
        return true;
    }

    bool RequestScan(const std::string& interfaceId) override {
        if (!Find(interfaceId)) return false;
        world_.CountWifiScan();
        return true;
    }

    std::optional<WlanConnection> CurrentConnection(const std::string& interfaceId) override {
        const auto wifi = Find(interfaceId);
        if (!wifi || !wifi->connected) return std::nullopt;
        WlanConnection c;
        c.ssid.assign(wifi->ssid.begin(), wifi->ssid.end());
        if (c.ssid.size() > 32) c.ssid.resize(32);
        c.signalQuality = wifi->signalQuality;
        c.bssid = wifi->bssid;
        c.phyType = wifi->phyType;
        c.authAlgorithm = wifi->authAlgorithm;
        c.cipherAlgorithm = wifi->cipherAlgorithm;
        c.rxRateKbps = wifi->rxRateKbps;
        c.txRateKbps = wifi->txRateKbps;
        return c;
    }

    std::optional<uint32_t> Channel(const std::string& interfaceId) override {
        const auto wifi = Find(interfaceId);
        if (!wifi || !wifi->connected) return std::nullopt;
        const uint32_t f = wifi->frequencyMhz;
        if (f == 2484) return 14;
        if (f < 3000) return (f - 2407) / 5;
        return Is6Ghz(f) ? (f - 5950) / 5 : (f - 5000) / 5;
    }

    bool BssList(const std::string& interfaceId, const std::vector<uint8_t>* ssid,
                 std::vector<WlanBssEntry>& out) override {
        out.clear();
        const auto wifi = Find(interfaceId);
        if (!wifi) return false;
        const auto wanted = [&](const std::string& name) {
            return ssid == nullptr || std::vector<uint8_t>(name.begin(), name.end()) == *ssid;
        };
        if (wifi->connected && wanted(wifi->ssid)) {
            WlanBssEntry own;
            own.ssid.assign(wifi->ssid.begin(), wifi->ssid.end());
            own.bssid = wifi->bssid;
            own.centerFrequencyKhz = wifi->frequencyMhz * 1000;
            own.rssiDbm = wifi->rssiDbm;
            own.linkQuality = wifi->signalQuality;
            own.informationElements = EncodeBeaconElements(*wifi);
            out.push_back(std::move(own));
        }
        for (const WifiNeighborConfig& neighbor : wifi->neighbors) {
            if (!wanted(neighbor.ssid)) continue;
            WlanBssEntry entry;
            entry.ssid.assign(neighbor.ssid.begin(), neighbor.ssid.end());
            entry.bssid = neighbor.bssid;
            entry.centerFrequencyKhz = neighbor.frequencyMhz * 1000;
            entry.rssiDbm = neighbor.rssiDbm;
            entry.linkQuality = uint32_t(std::clamp(2 * (neighbor.rssiDbm + 100), 0, 100));
            entry.informationElements = SsidElement(neighbor.ssid);
            out.push_back(std::move(entry));
        }
        return true;
    }

    std::optional<WlanRealtimeQuality> RealtimeQuality(const std::string&) override {
        return std::nullopt;
    }

private:
    std::optional<WifiConfig> Find(const std::string& interfaceId) {
        for (WifiConfig& wifi : world_.Wifi()) {
            if (std::to_string(wifi.ifIndex) == interfaceId) return std::move(wifi);
        }
        return std::nullopt;
    }

    SimWorld& world_;
};

}  // namespace

std::vector<uint8_t> EncodeBeaconElements(const WifiConfig& wifi) {
    if (wifi.hasRawElements) return wifi.rawElements;
    std::vector<uint8_t> out = SsidElement(wifi.ssid);
    const uint32_t f = wifi.frequencyMhz;
    const uint32_t streams = std::min<uint32_t>(wifi.spatialStreams, 4);
    if (wifi.countryCode.size() == 2) {
        // Country string (two letters and the environment), then one channel triplet.
        Element(out, 7,
                {uint8_t(wifi.countryCode[0]), uint8_t(wifi.countryCode[1]), ' ', 1, 13, 20});
    }
    if (wifi.stationCount >= 0) {
        const int32_t busy = std::max(wifi.channelUtilization, 0);
        Element(out, 11,
                {uint8_t(wifi.stationCount & 0xFF), uint8_t(wifi.stationCount >> 8),
                 uint8_t((busy * 255 + 99) / 100), 0, 0});
    }
    if (!Is6Ghz(f) && wifi.phyType >= 7) {
        std::vector<uint8_t> ht(26, 0);
        for (uint32_t i = 0; i < streams; ++i) ht[3 + i] = 0xFF;  // receive MCS bitmask
        Element(out, 45, ht);
        std::vector<uint8_t> op(22, 0);
        op[0] = uint8_t(f < 3000 ? (f == 2484 ? 14 : (f - 2407) / 5) : (f - 5000) / 5);
        if (wifi.channelWidth >= 40) op[1] = 0x01 | 0x04;  // secondary above, any width allowed
        Element(out, 61, op);
    }
    if (!Is6Ghz(f) && f >= 5000 && wifi.phyType >= 8) {
        std::vector<uint8_t> caps(12, 0);
        if (wifi.muMimo) caps[2] = 0x08;  // MU beamformer
        const uint16_t map = McsMap(streams);
        caps[4] = uint8_t(map & 0xFF);
        caps[5] = uint8_t(map >> 8);
        caps[8] = caps[4];
        caps[9] = caps[5];
        Element(out, 191, caps);
        const uint8_t width = wifi.channelWidth >= 160 ? 2 : wifi.channelWidth == 80 ? 1 : 0;
        Element(out, 192, {width, 0, 0, 0xFC, 0xFF});
    }
    if (wifi.phyType >= 10) {
        std::vector<uint8_t> he(22, 0);
        he[0] = 35;
        if (wifi.muMimo) he[10] = 0x01;
        const uint16_t map = McsMap(streams);
        he[18] = uint8_t(map & 0xFF);
        he[19] = uint8_t(map >> 8);
        Element(out, 255, he);
        if (Is6Ghz(f)) {
            // HE Operation with the 6 GHz Operation Information: primary channel, control (width).
            const uint8_t control = wifi.channelWidth >= 160  ? 3
                                    : wifi.channelWidth == 80 ? 2
                                    : wifi.channelWidth == 40 ? 1
                                                              : 0;
            Element(out, 255,
                    {36, 0, 0, 0x02, 0, 0xFC, 0xFF, uint8_t((f - 5950) / 5), control, 0, 0, 0});
        }
    }
    return out;
}

std::unique_ptr<WlanClient> SimWlan::Open() {
    if (world_.Wifi().empty()) return nullptr;
    return std::make_unique<SimWlanClient>(world_);
}

}  // namespace quillon::sim
