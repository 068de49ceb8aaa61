#include "discovery/wifi_query.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "discovery/wifi_elements.h"
#include "platform/sim/sim_wlan.h"

namespace quillon {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Name(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

WlanBssEntry Bss(const std::string& ssid, uint8_t last, uint32_t mhz, Bytes elements = {}) {
    WlanBssEntry e;
    e.ssid = Name(ssid);
    e.bssid = {0x00, 0x11, 0x22, 0x33, 0x44, last};
    e.centerFrequencyKhz = mhz * 1000;
    e.informationElements = std::move(elements);
    return e;
}

// A WLAN client whose answers the test sets; counts what is asked.
class FakeWlanClient : public WlanClient {
public:
    std::vector<WlanInterfaceInfo> interfaces = {{"wlan-off", "", false}, {"wlan0", "", true}};
    std::optional<WlanConnection> connection;
    std::optional<uint32_t> channel;
    bool fullListWorks = true;
    std::vector<WlanBssEntry> full;
    std::vector<WlanBssEntry> ssidList;
    std::optional<WlanRealtimeQuality> realtime;
    std::vector<std::string> scans;
    int ssidQueries = 0;

    bool ListInterfaces(std::vector<WlanInterfaceInfo>& out) override {
        out = interfaces;
        return true;
    }
    bool RequestScan(const std::string& id) override {
        scans.push_back(id);
        return true;
    }
    std::optional<WlanConnection> CurrentConnection(const std::string&) override {
        return connection;
    }
    std::optional<uint32_t> Channel(const std::string&) override { return channel; }
    bool BssList(const std::string&, const Bytes* ssid, std::vector<WlanBssEntry>& out) override {
        if (ssid == nullptr) {
            out = full;
            return fullListWorks;
        }
        ++ssidQueries;
        out = ssidList;
        return true;
    }
    std::optional<WlanRealtimeQuality> RealtimeQuality(const std::string&) override {
        return realtime;
    }
};

WlanConnection Joined(uint8_t last) {
    WlanConnection c;
    c.ssid = Name("Home");
    c.signalQuality = 77;
    c.bssid = {0x00, 0x11, 0x22, 0x33, 0x44, last};
    c.phyType = 10;
    c.authAlgorithm = 7;
    c.cipherAlgorithm = 4;
    c.rxRateKbps = 866700;
    c.txRateKbps = 1200;
    return c;
}

const Bytes kLoadAndCountry = {7, 3, 'D', 'E', ' ', 11, 5, 3, 0, 51, 0, 0};

TEST(WifiQuery, ConnectedLinkWithItsBeaconAndTheAccessPointsAround) {
    FakeWlanClient client;
    client.connection = Joined(0x01);
    client.channel = 36;
    client.full = {Bss("Other", 0x09, 5180), Bss("Home", 0x01, 5180, kLoadAndCountry),
                   Bss("Home", 0x02, 2437), Bss("Far", 0x03, 5200), Bss("", 0x04, 5180)};
    const WifiDetails w = QueryWifiDetails(&client);
    EXPECT_TRUE(w.connected);
    EXPECT_EQ(w.ssid, "Home");
    EXPECT_EQ(w.bssid, "00:11:22:33:44:01");
    EXPECT_EQ(w.signalStrength, -47);
    EXPECT_EQ(w.phyType, "802.11ax");
    EXPECT_EQ(w.authentication, "WPA2-Personal");
    EXPECT_EQ(w.cipher, "CCMP");
    EXPECT_DOUBLE_EQ(w.rxRate, 866.7);
    EXPECT_DOUBLE_EQ(w.txRate, 1.2);
    EXPECT_EQ(w.frequency, 5180u);
    EXPECT_EQ(w.band, "5 GHz");
    EXPECT_EQ(w.channel, 36);
    EXPECT_EQ(w.channelWidth, 20u);
    EXPECT_EQ(w.countryCode, "DE");
    EXPECT_EQ(w.stationCount, 3);
    EXPECT_EQ(w.channelUtilization, 20);
    // Every other BSS counts, hidden ones too; two of them share channel 36.
    EXPECT_EQ(w.neighborAPs, 4u);
    EXPECT_EQ(w.coChannelAPs, 2u);
    EXPECT_EQ(client.ssidQueries, 0);
    EXPECT_TRUE(client.scans.empty());  // a query never scans
}

TEST(WifiQuery, AccessPointFoundByNameWhenItsAddressIsNotListed) {
    FakeWlanClient client;
    client.connection = Joined(0x07);  // a randomised or multi-link address, in no list
    client.channel = 40;
    client.ssidList = {Bss("Home", 0x05, 5180), Bss("Home", 0x06, 5200, kLoadAndCountry),
                       Bss("Home", 0x08, 5200)};
    client.full = {Bss("Home", 0x05, 5180)};
    WifiDetails w = QueryWifiDetails(&client);
    EXPECT_EQ(client.ssidQueries, 1);
    EXPECT_EQ(w.channel, 40);  // the first of the two on the reported channel
    EXPECT_EQ(w.countryCode, "DE");

    // Absent from both lists, channel unknown: nothing about the channel or the beacon, and
    // no counts without a channel.
    client.channel.reset();
    client.ssidList.clear();
    client.full = {Bss("Elsewhere", 0x05, 5180)};
    w = QueryWifiDetails(&client);
    EXPECT_TRUE(w.connected);
    EXPECT_EQ(w.channel, 0);
    EXPECT_EQ(w.band, "");
    EXPECT_EQ(w.stationCount, -1);
    EXPECT_EQ(w.neighborAPs, 0u);
}

TEST(WifiQuery, NothingConnectedOrNoServiceGivesTheEmptyRecord) {
    EXPECT_FALSE(QueryWifiDetails(nullptr).connected);
    FakeWlanClient client;
    client.connection = Joined(0x01);
    client.interfaces = {{"wlan0", "", false}};
    EXPECT_FALSE(QueryWifiDetails(&client).connected);
    // Connected interface but the connection query fails: no name, so no search by name.
    client.interfaces = {{"wlan0", "", true}};
    client.connection.reset();
    client.full = {Bss("Home", 0x01, 5180)};
    const WifiDetails w = QueryWifiDetails(&client);
    EXPECT_FALSE(w.connected);
    EXPECT_EQ(client.ssidQueries, 0);
    EXPECT_EQ(w.frequency, 0u);
}

TEST(WifiQuery, MultiLinkLinksFromRealtimeQualityOrFromBeacons) {
    const Bytes mlo = {255, 12, 107, 0, 0, 0, 0x00, 0x11, 0x22, 0x33, 0x44, 0x01, 0, 0};
    const Bytes otherMld = {255, 12, 107, 0, 0, 0, 0x02, 0x11, 0x22, 0x33, 0x44, 0x01, 0, 0};
    FakeWlanClient client;
    client.connection = Joined(0x01);
    client.full = {Bss("Home", 0x01, 5180, mlo), Bss("Home", 0x02, 2437, mlo),
                   Bss("Home", 0x03, 6115, otherMld), Bss("Home", 0x04, 5955, mlo)};
    WifiDetails w = QueryWifiDetails(&client);
    ASSERT_TRUE(w.isMlo);
    ASSERT_EQ(w.mloLinkCount, 3u);
    EXPECT_EQ(w.mloLinks[1].channel, 6);
    EXPECT_EQ(w.mloLinks[2].band, "6 GHz");  // the one of another device is skipped

    // Five links: not taken as multi-link, only the first link's channel; two links: the
    // valid ones become the links.
    client.realtime = WlanRealtimeQuality{true,
                                          {{0, 2437, 20, -50},
                                           {1, 5500, 80, -60},
                                           {2, 5955, 160, -62},
                                           {3, 2412, 20, -70},
                                           {4, 5180, 40, -70}}};
    w = QueryWifiDetails(&client);
    EXPECT_EQ(w.channel, 6);
    EXPECT_EQ(w.channelWidth, 20u);
    EXPECT_EQ(w.mloLinkCount, 3u);  // still those of the beacons
    client.realtime = WlanRealtimeQuality{true, {{0, 9999, 80, -50}, {1, 5500, 80, -60}}};
    w = QueryWifiDetails(&client);
    EXPECT_EQ(w.channel, 36);  // the invalid first link leaves the beacon's channel
    ASSERT_EQ(w.mloLinkCount, 1u);
    EXPECT_EQ(w.mloLinks[0].channel, 100);
    EXPECT_EQ(w.mloLinks[0].channelWidth, 80u);
}

// A Wlan that hands out one prepared client.
class OneClientWlan : public Wlan {
public:
    std::unique_ptr<FakeWlanClient> client = std::make_unique<FakeWlanClient>();
    FakeWlanClient* raw = client.get();
    std::unique_ptr<WlanClient> Open() override { return std::move(client); }
};

TEST(WifiQuery, TheLinkScansOnceWhenOpenedAndNeverWhileQueried) {
    OneClientWlan wlan;
    WifiLink link(wlan);
    ASSERT_TRUE(link.HasClient());
    EXPECT_EQ(wlan.raw->scans, std::vector<std::string>{"wlan0"});  // only the connected one
    wlan.raw->connection = Joined(0x01);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(link.QueryWifiDetails().connected);
    EXPECT_EQ(wlan.raw->scans.size(), 1u);
}

TEST(WifiQuery, SimulatedBeaconsSayWhatTheScenarioDescribes) {
    sim::WifiConfig wifi;
    wifi.ssid = "Home";
    wifi.countryCode = "NZ";
    wifi.stationCount = 7;
    wifi.channelUtilization = 23;
    wifi.spatialStreams = 3;
    wifi.muMimo = true;
    for (const auto& [mhz, phy, width] : std::vector<std::tuple<uint32_t, uint32_t, uint32_t>>{
             {2437, 7, 40}, {5180, 8, 80}, {5500, 10, 160}, {6115, 10, 80}, {5180, 7, 20}}) {
        SCOPED_TRACE(std::to_string(mhz) + " MHz, PHY " + std::to_string(phy));
        wifi.frequencyMhz = mhz;
        wifi.phyType = phy;
        wifi.channelWidth = width;
        const BssIeSummary s = ParseBssInformationElements(sim::EncodeBeaconElements(wifi));
        EXPECT_EQ(s.channelWidth, width);
        EXPECT_EQ(s.countryCode, "NZ");
        EXPECT_EQ(s.stationCount, 7);
        EXPECT_EQ(s.channelUtilization, 23);
        EXPECT_EQ(s.spatialStreams, 3u);
        EXPECT_EQ(s.muMimo, phy >= 8);  // HT has no MU-MIMO bit
    }
}

}  // namespace
}  // namespace quillon
