// The simulated WiFi of a scenario world read through the WiFi query into the network state:
// the link is named after its network, and the timeline's weaker signal and extra access points
// show in the state, and in the link's status, while they last.
#include <gtest/gtest.h>

#include "discovery/wifi_query.h"
#include "path/state_sources.h"
#include "scenario/path_harness.h"

namespace quillon::test {
namespace {

class LinkSource final : public WifiSource {
public:
    explicit LinkSource(Wlan& wlan) : link(wlan) {}
    WifiDetails QueryWifiDetails() override { return link.QueryWifiDetails(); }
    WifiLink link;
};

const JsonValue& Connection(const JsonValue& state) {
    for (const JsonValue& segment : state.member("segments").asArray()) {
        if (segment.member("id").asString() == "connection") return segment;
    }
    throw std::runtime_error("no connection segment");
}

TEST(WifiScenario, TheLinkIsTheNamedNetworkAndItsWeakerSignalShowsOverTime) {
    PathHarness h(LoadWorld("wifi_loss.json"));
    LinkSource source(h.network.wlan());
    h.monitor.StateBuilder().SetWifiSource(&source);
    EXPECT_EQ(h.network.world().WifiScans(), 1);

    h.RunFor(20'000);
    JsonValue state = h.State();
    const JsonValue& wifi = state.member("wifiDetails");
    EXPECT_EQ(wifi.member("ssid").asString(), "Maple Street");
    EXPECT_EQ(wifi.member("signalQuality").asInteger(), 78);
    EXPECT_EQ(wifi.member("channel").asInteger(), 36);
    EXPECT_EQ(wifi.member("bandwidth").asString(), "80 MHz");
    EXPECT_EQ(wifi.member("phyType").asString(), "802.11ax");
    const JsonValue* link = &Connection(state);
    EXPECT_EQ(link->member("displayName").asString(), "Maple Street");
    EXPECT_EQ(link->member("status").asString(), "healthy");
    const JsonValue* details = &link->member("details");
    EXPECT_EQ(details->member("band").asString(), "5 GHz");
    EXPECT_EQ(details->member("countryCode").asString(), "US");
    EXPECT_EQ(details->member("stationCount").asInteger(), 6);
    EXPECT_EQ(details->member("channelUtilization").asInteger(), 18);
    EXPECT_EQ(details->member("spatialStreams").asInteger(), 2);
    EXPECT_EQ(details->member("coChannelAPs").asInteger(), 1);
    EXPECT_EQ(details->member("neighborAPs").asInteger(), 3);

    // At 30 s the signal falls to 41 and two more access points share the channel.
    h.RunFor(20'000);
    state = h.State();
    link = &Connection(state);
    details = &link->member("details");
    EXPECT_EQ(details->member("signalQuality").asInteger(), 41);
    EXPECT_EQ(details->member("signalStrength").asInteger(), -72);
    EXPECT_EQ(details->member("coChannelAPs").asInteger(), 2);
    EXPECT_EQ(details->member("neighborAPs").asInteger(), 4);
    EXPECT_NE(link->member("status").asString(), "healthy");

    // It is strong again from 120 s.
    h.RunFor(90'000);
    EXPECT_EQ(h.State().member("wifiDetails").member("signalQuality").asInteger(), 78);
    EXPECT_EQ(h.network.world().WifiScans(), 1);  // the queries never scanned
}

TEST(WifiScenario, TheRadioOfADownAdapterIsNotConnected) {
    PathHarness h(LoadWorld("healthy_home.json"));
    LinkSource source(h.network.wlan());
    h.monitor.StateBuilder().SetWifiSource(&source);
    EXPECT_TRUE(source.QueryWifiDetails().connected);
    sim::TimelineEvent down;
    down.kind = sim::ChangeKind::AdapterDown;
    down.ifIndex = 12;
    h.network.world().Apply(down);
    const WifiDetails after = source.QueryWifiDetails();
    EXPECT_FALSE(after.connected);
    EXPECT_EQ(after.ssid, "");
}

}  // namespace
}  // namespace quillon::test
