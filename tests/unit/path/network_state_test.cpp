#include "path/network_state.h"

#include <gtest/gtest.h>

#include <map>
#include <tuple>

#include "discovery/address_text.h"
#include "fakes/fake_net_info.h"
#include "fakes/log_capture.h"
#include "path/node_registry.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

// Records are set up with designated initializers; the members left out keep their defaults,
// which is the point, so g++'s warning about them is noise here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quillon {
namespace {

// One adapter at 192.168.1.20 whose default route leads to 192.168.1.1 (gatewayMac).
void Home(test::FakeNetInfo& net, std::string name, uint32_t type, uint64_t speed,
          const MacAddress& gatewayMac) {
    net.adapters = {{.friendlyName = std::move(name),
                     .description = "Intel(R) Ethernet I225-V",
                     .ifIndex = 2,
                     .ifType = type,
                     .operStatusUp = true,
                     .transmitLinkSpeed = speed,
                     .physicalAddress = {0x3C, 0x22, 0xFB, 0x9A, 0x10, 0x4E},
                     .ipv4Unicast = {Ipv4Address(192, 168, 1, 20)}}};
    net.routes = {{Ipv4Address(), Ipv4Address(), Ipv4Address(192, 168, 1, 1), 2, 25}};
    net.neighbors = {{Ipv4Address(192, 168, 1, 1), 2, gatewayMac, true}};
}

const MacAddress kGatewayMac{0xA4, 0x2B, 0xB0, 0xC1, 0x7E, 0x10};
const MacAddress kUnifiMac{0xFC, 0xEC, 0xDA, 0x11, 0x22, 0x33};

struct FakeWifi : WifiSource {
    WifiDetails QueryWifiDetails() override { return details; }
    WifiDetails details;
};
struct FakePublicIp : PublicIpSource {
    PublicIpInfo GetPublicIpInfo() override { return info; }
    PublicIpInfo info;
};
struct FakeVendors : VendorSource {
    std::string GetVendor(const std::string& mac) override {
        const auto it = names.find(mac);
        return it == names.end() ? "" : it->second;
    }
    std::map<std::string, std::string> names{{"3C:22:FB:9A:10:4E", "Example Devices"},
                                             {"A4:2B:B0:C1:7E:10", "Example Networks"}};
};
struct FakeLldp : LldpSource {
    std::optional<LldpNeighbor> CurrentNeighbor() override { return neighbor; }
    std::optional<LldpNeighbor> neighbor;
};
struct FakeUnifi : UnifiSource {
    std::optional<UnifiSystemInfo> Recognised(const std::string& ip,
                                              const std::string& mac) override {
        asked.push_back(ip + " " + mac);
        return mac.rfind("FC:EC:DA", 0) == 0 ? answer : std::nullopt;
    }
    std::optional<UnifiSystemInfo> answer;
    std::vector<std::string> asked;
};
// Places by address.
struct FakeGeo : GeoSource {
    GeoLocation Lookup(const std::string& ip) override {
        looked.push_back(ip);
        const auto it = places.find(ip);
        return it == places.end() ? GeoLocation{} : it->second;
    }
    std::map<std::string, GeoLocation> places;
    std::vector<std::string> looked;
};

GeoLocation Place(std::string ip, std::string city, std::string region, std::string country,
                  double latitude, double longitude, std::string organization = "") {
    return {.ip = ip,
            .city = city,
            .region = region,
            .country = country,
            .countryCode = country,
            .latitude = latitude,
            .longitude = longitude,
            .isp = organization,
            .organization = organization,
            .valid = true};
}

HopRecord Hop(int32_t ttl, Ipv4Address address, HopLabel label, std::string hostname = "",
              std::string asn = "", std::string asName = "") {
    return {.ttl = ttl,
            .address = address,
            .hostname = hostname,
            .asn = asn,
            .asName = asName,
            .label = label};
}

// Expected text of a segment object; the details are given as written.
std::string SegmentText(const char* id, const char* name, const char* category, const char* status,
                        bool culprit, int order, const std::string& details) {
    return std::string("{\"id\":\"") + id + "\",\"type\":\"" + id + "\",\"displayName\":\"" + name +
           "\",\"categoryLabel\":\"" + category + "\",\"status\":\"" + status +
           "\",\"isCulprit\":" + (culprit ? "true" : "false") +
           ",\"isVisible\":true,\"displayOrder\":" + std::to_string(order) +
           ",\"details\":" + details + "}";
}

// The object of one segment within a message (details hold no braces inside texts here).
std::string SegmentOf(const std::string& message, const std::string& id) {
    const size_t start = message.find("{\"id\":\"" + id + "\"");
    if (start == std::string::npos) return "";
    int depth = 0;
    for (size_t i = start; i < message.size(); ++i) {
        if (message[i] == '{') ++depth;
        if (message[i] == '}' && --depth == 0) return message.substr(start, i - start + 1);
    }
    return "";
}

const std::string kDevice = SegmentText(
    "device", "SIM-PC", "Client", "healthy", false, 0,
    R"({"hostname":"SIM-PC","os":"Linux 6.1.0","arch":"x64","interfaceName":"eth0",)"
    R"("localIP":"192.168.1.20","clientMac":"3C:22:FB:9A:10:4E",)"
    R"("clientManufacturer":"Example Devices","diskUsedPercent":60.9,"diskTotalGB":512,)"
    R"("diskFreeGB":200,"ramUsedPercent":42.0,"ramTotalGB":16,"ramAvailableGB":9})");

// The gateway of Home() before anything was measured.
const std::string kGatewaySegment =
    SegmentText("homeNetwork", "Example Networks", "Gateway", "unknown", false, 2,
                R"({"gatewayIP":"192.168.1.1","gatewayMAC":"A4:2B:B0:C1:7E:10",)"
                R"("gatewayManufacturer":"Example Networks"})");

class NetworkStateTest : public ::testing::Test {
protected:
    NetworkStateContext Context(bool withSources = true) {
        NetworkStateContext c{system, net, registry, path, hysteresis, {}};
        c.destinationUnreached = [this] { return unreached; };
        if (withSources) {
            c.wifi = &wifi, c.publicIp = &publicIp, c.vendors = &vendors;
            c.geo = &geo, c.lldp = &lldp, c.unifi = &unifi;
        }
        return c;
    }
    // A node with one sample per entry of rtts; -1 is a timed-out echo.
    void Node(Ipv4Address address, std::vector<int> rtts) {
        registry.GetOrCreateNode(address, {}, registry.Generation());
        for (int rtt : rtts) registry.RecordSample(address, rtt < 0 ? 0 : rtt, rtt < 0);
    }
    void Publish(HopList hops) { ASSERT_TRUE(path.Publish(std::move(hops), path.Generation())); }

    sim::SimSystem system;
    sim::VirtualClock clock;
    test::FakeNetInfo net;
    NodeRegistry registry{clock};
    CurrentPath path;
    Hysteresis hysteresis{clock};
    bool unreached = false;
    FakeWifi wifi;
    FakePublicIp publicIp;
    FakeVendors vendors;
    FakeGeo geo;
    FakeLldp lldp;
    FakeUnifi unifi;
};

const Ipv4Address kRouter(192, 168, 1, 1);
const Ipv4Address kCgnat(100, 64, 0, 1);
const Ipv4Address kCore(198, 51, 100, 17);
const Ipv4Address kDest(192, 0, 2, 129);

TEST_F(NetworkStateTest, BeforeTheFirstTracerouteOnlyTheLocalSegmentsShow) {
    Home(net, "eth0", kIfTypeEthernet, 1'000'000'000, kGatewayMac);
    const std::string message = NetworkStateBuilder(Context()).BuildNetworkState();
    EXPECT_EQ(message.rfind(R"({"type":"networkState","overallStatus":"unknown","hops":[],)"
                            R"("segments":[{"id":"device")",
                            0),
              0u);
    EXPECT_EQ(SegmentOf(message, "homeNetwork"), kGatewaySegment);
    // No ISP or services yet, and nothing traced.
    EXPECT_TRUE(message.ends_with(kGatewaySegment + R"(],"destinations":[]})"));
    EXPECT_NE(SegmentOf(message, "connection").find(R"("status":"healthy")"), std::string::npos);
}

TEST_F(NetworkStateTest, HealthyWiredHomeWithFourHops) {
    Home(net, "eth0", kIfTypeEthernet, 2'500'000'000, kGatewayMac);
    lldp.neighbor = LldpNeighbor{"", "ge-0/0/7", "core-sw1", "", "", "", 120};
    publicIp.info = {.ipAddress = "203.0.113.45",
                     .port = 53211,
                     .hostname = "cpe-45.example-cable.net",
                     .asn = "64500",
                     .asName = "EXAMPLE-CABLE",
                     .valid = true};
    registry.AddDestination({kDest, "Backup", false});
    registry.AddDestination({Ipv4Address(192, 0, 2, 1), "Video service", true});
    Node(kRouter, {1, 2, 1, 2});
    Node(kCgnat, {9, 11, 10, 10, 12, 8, 10, -1});
    Node(kCore, {20, 24});
    Publish(
        {Hop(1, kRouter, HopLabel::Local, "router.home.arpa"),
         Hop(2, kCgnat, HopLabel::Isp, "", "64500"),
         Hop(3, kCore, HopLabel::Transit, "ae3.bras2.example-cable.net", "64500", "EXAMPLE-CABLE"),
         Hop(4, Ipv4Address(), HopLabel::Unknown)});

    NetworkStateBuilder builder(Context());
    EXPECT_EQ(
        builder.BuildNetworkState(),
        R"({"type":"networkState","overallStatus":"healthy","hops":[)"
        R"({"hopNumber":1,"ip":"192.168.1.1","hostname":"router.home.arpa","rttMs":1.0,)"
        R"("loss":0.0,"jitter":0.5,"segment":"LOCAL","segmentId":"connection",)"
        R"("recentLoss":0.0,"recentSamples":4},)"
        R"({"hopNumber":2,"ip":"100.64.0.1","asn":"64500","rttMs":10.0,"loss":12.5,)"
        R"("jitter":0.9,"segment":"ISP","segmentId":"isp","recentLoss":12.5,"recentSamples":8},)"
        R"({"hopNumber":3,"ip":"198.51.100.17","hostname":"ae3.bras2.example-cable.net",)"
        R"("asn":"64500","asnName":"EXAMPLE-CABLE","rttMs":22.0,"loss":0.0,"jitter":2.0,)"
        R"("segment":"TRANS","segmentId":"isp","recentLoss":0.0,"recentSamples":2},)"
        R"({"hopNumber":4,"ip":"*","rttMs":0,"loss":100,"jitter":0,"segment":"?",)"
        R"("segmentId":"isp"}],)"
        R"("publicIpInfo":{"ipAddress":"203.0.113.45","hostname":"cpe-45.example-cable.net",)"
        R"("asn":"AS64500","ispName":"EXAMPLE-CABLE","port":53211},"segments":[)" +
            kDevice + "," +
            SegmentText("connection", "Ethernet", "Link", "healthy", false, 1,
                        R"({"adapterType":"Ethernet","interfaceName":"eth0",)"
                        R"("adapterName":"Intel(R) Ethernet I225-V","linkSpeed":"2.5 Gbps",)"
                        R"("macAddress":"3C:22:FB:9A:10:4E","lldpSwitch":"core-sw1",)"
                        R"("lldpPort":"ge-0/0/7"})") +
            "," +
            SegmentText("homeNetwork", "Example Networks", "Gateway", "healthy", false, 2,
                        R"({"gatewayIP":"192.168.1.1","gatewayMAC":"A4:2B:B0:C1:7E:10",)"
                        R"("gatewayManufacturer":"Example Networks","latencyMs":1.0,)"
                        R"("packetLoss":0.0,"jitterMs":0.5})") +
            "," +
            SegmentText("isp", "EXAMPLE-CABLE", "ISP", "healthy", false, 3,
                        R"({"publicIp":"203.0.113.45","publicHostname":"cpe-45.example-cable.net",)"
                        R"("asn":"AS64500","provider":"EXAMPLE-CABLE","providerSource":"stun",)"
                        R"("latencyMs":10.0,"packetLoss":12.5,"jitterMs":0.9})") +
            "," +
            SegmentText("services", "Video service", "Destination", "healthy", false, 4, "{}") +
            R"(],"destinations":[]})");

    // The public address not learned yet (or UDP blocked): the ISP is named from the path's
    // first ISP hop, its AS name taken from a later router of the same AS.
    publicIp.info = {};
    std::string message = builder.BuildNetworkState();
    EXPECT_EQ(message.find("publicIpInfo"), std::string::npos);
    EXPECT_EQ(SegmentOf(message, "isp"),
              SegmentText("isp", "EXAMPLE-CABLE", "ISP", "healthy", false, 3,
                          R"({"asn":"AS64500","provider":"EXAMPLE-CABLE","providerSource":"path",)"
                          R"("latencyMs":10.0,"packetLoss":12.5,"jitterMs":0.9})"));

    // An address without AS data still takes the provider from the path.
    publicIp.info = {
        .ipAddress = "203.0.113.45", .ip = Ipv4Address(203, 0, 113, 45), .valid = true};
    message = builder.BuildNetworkState();
    EXPECT_NE(SegmentOf(message, "isp")
                  .find(R"({"publicIp":"203.0.113.45","asn":"AS64500","provider":"EXAMPLE-CABLE",)"
                        R"("providerSource":"path","latencyMs":10.0,)"),
              std::string::npos);

    // Neither known (no hop of the path is labelled the ISP's): still being discovered.
    publicIp.info = {};
    Publish({Hop(1, kRouter, HopLabel::Local, "router.home.arpa"),
             Hop(2, Ipv4Address(), HopLabel::Unknown)});
    message = builder.BuildNetworkState();
    EXPECT_EQ(SegmentOf(message, "isp"), SegmentText("isp", "Internet", "ISP", "healthy", false, 3,
                                                     R"({"status":"discovering"})"));
}

TEST(NetworkStateLinkSpeed, MegabitsBelowAThousandGigabitsAbove) {
    EXPECT_EQ(LinkSpeedText(2'500'000'000), "2.5 Gbps");
    EXPECT_EQ(LinkSpeedText(10'000'000'000), "10 Gbps");
    EXPECT_EQ(LinkSpeedText(100'000'000), "100 Mbps");
    EXPECT_EQ(LinkSpeedText(999'999'999), "999 Mbps");
    EXPECT_EQ(LinkSpeedText(1'000'000'000), "1 Gbps");
}

TEST_F(NetworkStateTest, WifiLinkDetails) {
    Home(net, "wlan0", kIfTypeWireless, 0, kGatewayMac);
    vendors.names["A4:2B:B0:C1:7E:12"] = "Example Networks";
    WifiDetails& d = wifi.details;
    d = {.ssid = "Home \"5G\"\x07",
         .signalQuality = 84,
         .signalStrength = -41,
         .channel = 44,
         .frequency = 5220,
         .band = "5 GHz",
         .channelWidth = 80,
         .bssid = "A4:2B:B0:C1:7E:12",
         .phyType = "802.11ax",
         .authentication = "WPA3-Personal",
         .rxRate = 720.5,
         .txRate = 864.9,
         .connected = true,
         .stationCount = 0,
         .channelUtilization = 0,
         .spatialStreams = 2,
         .muMimo = true,
         .countryCode = "DE",
         .neighborAPs = 14,
         .isMlo = true,
         .mloLinkCount = 2,
         .mloLinks = {MloLink{44, 5220, "5 GHz", 80}, MloLink{37, 6135, "6 GHz", 160}}};
    NetworkStateBuilder builder(Context());
    const std::string ssid = R"(Home \"5G\"\u0007)";
    EXPECT_EQ(
        builder.BuildNetworkState(),
        R"({"type":"networkState","overallStatus":"unknown","hops":[],"wifiDetails":{"ssid":")" +
            ssid +
            R"(","bssid":"A4:2B:B0:C1:7E:12","signalStrength":-41,"signalQuality":84,)"
            R"("channel":44,"bandwidth":"80 MHz","security":"WPA3-Personal","phyType":"802.11ax",)"
            R"("txRate":864,"rxRate":720},"segments":[)" +
            std::string(kDevice).replace(kDevice.find("eth0"), 4, "wlan0") + "," +
            SegmentText(
                "connection", ssid.c_str(), "Link", "healthy", false, 1,
                R"({"ssid":")" + ssid +
                    R"(","bssid":"A4:2B:B0:C1:7E:12","accessPoint":"Example Networks",)"
                    R"("signalStrength":-41,"signalQuality":84,"channel":44,)"
                    R"("bandwidth":"80 MHz","txRate":"864 Mbps","security":"WPA3-Personal",)"
                    R"("phyType":"802.11ax","band":"5 GHz","frequency":5220,)"
                    R"("spatialStreams":2,"muMimo":true,"channelUtilization":0,"stationCount":0,)"
                    R"("neighborAPs":14,"countryCode":"DE","mloLinkCount":2,"mloLinks":[)"
                    R"({"channel":44,"frequency":5220,"band":"5 GHz","channelWidth":80},)"
                    R"({"channel":37,"frequency":6135,"band":"6 GHz","channelWidth":160}]})") +
            "," + kGatewaySegment + R"(],"destinations":[]})");

    // Weak signal, no SSID, unknown access point, one MLO link and the optional members absent.
    d = {.signalQuality = 45,
         .signalStrength = -68,
         .channel = 6,
         .channelWidth = 20,
         .bssid = "02:00:00:00:00:01",
         .phyType = "802.11n",
         .authentication = "Open",
         .txRate = 0.99,
         .connected = true,
         .stationCount = 5,
         .coChannelAPs = 3,
         .isMlo = true,
         .mloLinkCount = 1};
    EXPECT_EQ(
        SegmentOf(builder.BuildNetworkState(), "connection"),
        SegmentText("connection", "WiFi", "Link", "warning", false, 1,
                    R"({"ssid":"","bssid":"02:00:00:00:00:01","signalStrength":-68,)"
                    R"("signalQuality":45,"channel":6,"bandwidth":"20 MHz","txRate":"0 Mbps",)"
                    R"("security":"Open","phyType":"802.11n","stationCount":5,)"
                    R"("coChannelAPs":3})"));
}

TEST_F(NetworkStateTest, PublicAddressLocatedWithDistances) {
    Home(net, "eth0", kIfTypeEthernet, 0, kGatewayMac);
    const Ipv4Address isp(206, 224, 64, 1);
    publicIp.info = {
        .ipAddress = "98.97.1.2", .asn = "14593", .asName = "SPACEX-STARLINK", .valid = true};
    geo.places["98.97.1.2"] = Place("98.97.1.2", "Denver", "", "US", 39.7392, -104.9903,
                                    "AS14593 Space Exploration Technologies Corporation");
    // 24 miles from the public address; the destination under 5.
    geo.places["206.224.64.1"] = Place("206.224.64.1", "", "", "", 40.0, -105.3);
    geo.places["192.0.2.129"] = Place("192.0.2.129", "Aurora", "Colorado", "US", 39.80, -104.95);
    Node(isp, {});
    Node(kDest, {30, 32});
    Publish({Hop(1, kRouter, HopLabel::Local), Hop(2, isp, HopLabel::Isp, "", "14593"),
             Hop(3, kDest, HopLabel::Destination, "", "64502")});

    NetworkStateBuilder builder(Context());
    std::string message = builder.BuildNetworkState();
    // A hop with a node but no samples yet has no figures.
    EXPECT_NE(message.find(R"({"hopNumber":2,"ip":"206.224.64.1","asn":"14593","rttMs":0,)"
                           R"("loss":0,"jitter":0,"segment":"ISP","segmentId":"isp"})"),
              std::string::npos);
    EXPECT_EQ(
        SegmentOf(message, "isp"),
        SegmentText("isp", "SPACEX-STARLINK", "ISP", "healthy", false, 3,
                    R"({"publicIp":"98.97.1.2","asn":"AS14593","provider":"SPACEX-STARLINK",)"
                    R"("providerSource":"stun","city":"Denver","country":"US","countryCode":"US",)"
                    R"("location":"Denver, US","latitude":39.7392,"longitude":-104.9903,)"
                    R"("satelliteProvider":"Starlink","ispDistanceMiles":24})"));
    EXPECT_EQ(SegmentOf(message, "services"),
              SegmentText("services", "Destination", "Destination", "healthy", false, 4,
                          R"({"hostname":"192.0.2.129","latencyMs":31.0,"packetLoss":0.0,)"
                          R"("jitterMs":1.0,"destLocation":"Aurora, Colorado"})"));
    EXPECT_EQ(geo.looked, (std::vector<std::string>{"98.97.1.2", "206.224.64.1", "192.0.2.129"}));

    // A near ISP router (under 5 miles) and a far destination (63).
    geo.places["206.224.64.1"] = Place("206.224.64.1", "", "", "", 39.80, -104.95);
    geo.places["192.0.2.129"] =
        Place("192.0.2.129", "Aurora", "Colorado", "US", 38.8339, -104.8214);
    message = builder.BuildNetworkState();
    EXPECT_EQ(SegmentOf(message, "isp").find("ispDistanceMiles"), std::string::npos);
    EXPECT_NE(SegmentOf(message, "services")
                  .find(R"("destLocation":"Aurora, Colorado","distanceMiles":63})"),
              std::string::npos);

    // Without an AS to match, the second hop is the ISP's; a private one is never looked up.
    publicIp.info.asn = "";
    Node(Ipv4Address(10, 0, 0, 1), {5, 7});
    Publish({Hop(1, kRouter, HopLabel::Local), Hop(2, Ipv4Address(10, 0, 0, 1), HopLabel::Isp),
             Hop(3, kDest, HopLabel::Destination, "www.example")});
    geo.looked.clear();
    message = builder.BuildNetworkState();
    EXPECT_NE(SegmentOf(message, "isp")
                  .find(R"({"publicIp":"98.97.1.2","provider":"SPACEX-STARLINK",)"
                        R"("providerSource":"stun","city")"),
              std::string::npos);
    EXPECT_NE(SegmentOf(message, "isp")
                  .find(R"("satelliteProvider":"Starlink","latencyMs":6.0,"packetLoss":0.0,)"
                        R"("jitterMs":1.0})"),
              std::string::npos);
    EXPECT_NE(SegmentOf(message, "services").find(R"({"hostname":"www.example","latencyMs")"),
              std::string::npos);
    EXPECT_EQ(geo.looked, (std::vector<std::string>{"98.97.1.2", "192.0.2.129"}));

    // A public address the service could not place: no location, nothing measured from it.
    geo.places["98.97.1.2"].latitude = 0;
    geo.places["98.97.1.2"].longitude = 0;
    message = builder.BuildNetworkState();
    EXPECT_EQ(SegmentOf(message, "isp"),
              SegmentText("isp", "SPACEX-STARLINK", "ISP", "healthy", false, 3,
                          R"({"publicIp":"98.97.1.2","provider":"SPACEX-STARLINK",)"
                          R"("providerSource":"stun","latencyMs":6.0,"packetLoss":0.0,)"
                          R"("jitterMs":1.0})"));
    EXPECT_EQ(SegmentOf(message, "services"),
              SegmentText("services", "Destination", "Destination", "healthy", false, 4,
                          R"({"hostname":"www.example","latencyMs":31.0,"packetLoss":0.0,)"
                          R"("jitterMs":1.0})"));
}

TEST_F(NetworkStateTest, CulpritCalloutMarksTheBlamedSegment) {
    Home(net, "eth0", kIfTypeEthernet, 0, kGatewayMac);
    // The router answered 60 echoes; from the next hop on one in five is lost.
    Node(kRouter, std::vector<int>(60, 1));
    std::vector<int> lossy;
    for (int i = 0; i < 20; ++i) lossy.push_back(i % 5 == 4 ? -1 : 10);
    Node(kCgnat, lossy);
    for (int& rtt : lossy) rtt = rtt < 0 ? rtt : 20;
    Node(kCore, lossy);
    Publish({Hop(1, kRouter, HopLabel::Local), Hop(2, kCgnat, HopLabel::Isp),
             Hop(3, kCore, HopLabel::Transit)});
    NetworkStateBuilder builder(Context(false));

    // Proven at once but shown as a place only once the impairment has lasted 10 s.
    std::string message = builder.BuildNetworkState();
    EXPECT_NE(message.find(R"("overallStatus":"warning")"), std::string::npos);
    EXPECT_NE(message.find(R"("segmentId":"","title":"Checking Your Connection")"),
              std::string::npos);
    // Why, before the place is settled: the loss where it starts, no hop named yet.
    const std::string checkingSince = std::to_string(clock.UnixSeconds());
    EXPECT_TRUE(message.ends_with(R"(,"trigger":"loss","triggerValue":20.0,"since":)" +
                                  checkingSince + "}}"));
    EXPECT_EQ(builder.LastReason().hopNumber, -1);
    EXPECT_TRUE(builder.WantsEvidence());
    clock.Advance(10'000);
    message = builder.BuildNetworkState();
    const int64_t shownAt = clock.UnixSeconds();
    const std::string callout =
        R"(,"culpritCallout":{"severity":"critical","segmentId":"isp","title":"ISP Issue",)"
        R"("description":"Packet loss detected in your ISP's network.",)"
        R"("remedy":"This is likely a temporary ISP issue. Contact them if it persists.",)"
        R"("culpritHopNumber":2,"culpritIp":"100.64.0.1","trigger":"loss",)"
        R"("triggerValue":20.0,"since":)" +
        std::to_string(shownAt) + "}}";
    EXPECT_TRUE(message.ends_with(callout)) << message;
    // The reason the verdict history records is the one written, with the hop's figures.
    const VerdictReason& reason = builder.LastReason();
    EXPECT_EQ(reason.hopNumber, 2);
    EXPECT_EQ(reason.ip, kCgnat);
    EXPECT_EQ(reason.trigger, "loss");
    EXPECT_EQ(reason.sinceUnix, shownAt);
    EXPECT_FLOAT_EQ(reason.value, 20.0f);
    EXPECT_FLOAT_EQ(reason.lossPercent, 20.0f);
    EXPECT_FLOAT_EQ(reason.rttMs, 10.0f);
    // The same verdict keeps the time it was first shown.
    clock.Advance(5'000);
    EXPECT_TRUE(builder.BuildNetworkState().ends_with(callout));
    EXPECT_EQ(builder.LastReason().sinceUnix, shownAt);
    EXPECT_NE(message.find(R"("overallStatus":"critical")"), std::string::npos);
    EXPECT_EQ(SegmentOf(message, "homeNetwork"),
              SegmentText("homeNetwork", "Gateway", "Gateway", "unknown", false, 2,
                          R"({"gatewayIP":"192.168.1.1","gatewayMAC":"A4:2B:B0:C1:7E:10",)"
                          R"("latencyMs":1.0,"packetLoss":0.0,"jitterMs":0.0})"));
    EXPECT_EQ(SegmentOf(message, "isp"), SegmentText("isp", "Internet", "ISP", "critical", true, 3,
                                                     R"({"status":"discovering"})"));
    EXPECT_EQ(SegmentOf(message, "services"),
              SegmentText("services", "Destination", "Destination", "unknown", false, 4,
                          R"({"hostname":"198.51.100.17","latencyMs":20.0,"packetLoss":20.0,)"
                          R"("jitterMs":0.0})"));
    EXPECT_NE(message.find(R"("segment":"LOCAL","segmentId":"connection","recentLoss":0.0,)"
                           R"("recentSamples":60})"),
              std::string::npos);

    // An unreachable destination is blamed on no segment, at once.
    unreached = true;
    message = builder.BuildNetworkState();
    EXPECT_EQ(message.find(R"("isCulprit":true)"), std::string::npos);
    const std::string unplaced =
        R"(,"culpritCallout":{"severity":"critical","segmentId":"",)"
        R"("title":"Network Issue Detected",)"
        R"("description":"Your connection is experiencing some degradation.",)"
        R"("remedy":"Monitor the situation - it may resolve automatically.",)"
        R"("trigger":"unreachable","since":)" +
        std::to_string(clock.UnixSeconds()) + "}}";
    EXPECT_TRUE(message.ends_with(unplaced)) << message;

    // No callout, no reason.
    unreached = false;
    registry.Clear();
    hysteresis.ResetHysteresis();
    message = builder.BuildNetworkState();
    EXPECT_EQ(message.find("culpritCallout"), std::string::npos);
    EXPECT_EQ(builder.LastReason().trigger, "");
    EXPECT_EQ(builder.LastReason().sinceUnix, 0);
}

TEST_F(NetworkStateTest, EveryTracedDestinationIsListedPrimaryFirstWithItsFigures) {
    const Ipv4Address silent(192, 0, 2, 1), answering(192, 0, 2, 129), fresh(192, 0, 2, 200);
    registry.AddDestination({answering, "Backup", false});
    registry.AddDestination({silent, "Video service", true});
    registry.AddDestination({fresh, "", false});
    registry.AddDestination({Ipv4Address(192, 0, 2, 250), "Not traced", false});
    const uint64_t generation = registry.Generation();
    // The primary's trace ends in silence; the backup is reached and echoed; the third is
    // reached but not echoed yet.
    registry.StorePath(silent, {kRouter, kCore, Ipv4Address()}, generation);
    registry.StorePath(answering, {kRouter, kCore, answering}, generation);
    registry.StorePath(fresh, {kRouter, fresh}, generation);
    Node(answering, {30, 32, -1, 30});
    Publish({Hop(1, kRouter, HopLabel::Local), Hop(2, kCore, HopLabel::Transit)});

    const std::string message = NetworkStateBuilder(Context(false)).BuildNetworkState();
    const size_t start = message.find(R"(,"destinations":)");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(message.substr(start, message.find("]", start) + 1 - start),
              R"(,"destinations":[)"
              R"({"ip":"192.0.2.1","name":"Video service","isPrimary":true,"reached":false,)"
              R"("answersPing":false},)"
              R"({"ip":"192.0.2.129","name":"Backup","isPrimary":false,"reached":true,)"
              R"("answersPing":true,"rttMs":30.0,"loss":25.0,"jitter":0.9,"recentLoss":25.0,)"
              R"("recentSamples":4},)"
              R"({"ip":"192.0.2.200","isPrimary":false,"reached":true,"answersPing":true}])");
}

TEST_F(NetworkStateTest, DiskAndMemoryAreZeroWhenUnknown) {
    system.disk = {false, 512ull << 30, 200ull << 30};
    system.memory = {false, 42, 16ull << 30, 9ull << 30};
    const std::string zeros =
        R"("diskUsedPercent":0.0,"diskTotalGB":0,"diskFreeGB":0,"ramUsedPercent":0.0,)"
        R"("ramTotalGB":0,"ramAvailableGB":0})";
    NetworkStateBuilder builder(Context(false));
    const std::string message = builder.BuildNetworkState();
    EXPECT_EQ(SegmentOf(message, "connection"), "");  // no adapter: no link, no gateway
    EXPECT_EQ(SegmentOf(message, "device"),
              SegmentText("device", "SIM-PC", "Client", "healthy", false, 0,
                          R"({"hostname":"SIM-PC","os":"Linux 6.1.0","arch":"x64",)"
                          R"("interfaceName":"","localIP":"",)" +
                              zeros));

    // The computer's facts are read again once a minute, not at every build.
    system.disk = {true, 0, 0};
    system.memory = {true, 7, (3ull << 30) - 1, 1ull << 29};
    EXPECT_NE(builder.BuildNetworkState().find(zeros), std::string::npos);
    clock.Advance(NetworkStateBuilder::kFactsMaxAgeMs);
    EXPECT_NE(builder.BuildNetworkState().find(
                  R"("diskUsedPercent":0.0,"diskTotalGB":0,"diskFreeGB":0,"ramUsedPercent":7.0,)"
                  R"("ramTotalGB":2,"ramAvailableGB":0})"),
              std::string::npos);
}

TEST_F(NetworkStateTest, RecognisedUniFiGatewayIsNamedByItsModelOrName) {
    Home(net, "eth0", kIfTypeEthernet, 0, kUnifiMac);
    NetworkStateBuilder builder(Context());
    // Not (yet) recognised: named by its maker, like any gateway.
    const std::string plain = SegmentOf(builder.BuildNetworkState(), "homeNetwork");
    EXPECT_EQ(plain.find("isUniFi"), std::string::npos) << plain;
    EXPECT_EQ(unifi.asked, std::vector<std::string>{"192.168.1.1 FC:EC:DA:11:22:33"});

    unifi.answer = UnifiSystemInfo{"Dream Machine", "UDM-Pro", "", true, true};
    EXPECT_EQ(SegmentOf(builder.BuildNetworkState(), "homeNetwork"),
              SegmentText("homeNetwork", "UDM-Pro", "Gateway", "unknown", false, 2,
                          R"({"gatewayIP":"192.168.1.1","gatewayMAC":"FC:EC:DA:11:22:33",)"
                          R"("isUniFi":true,"unifiModel":"UDM-Pro"})"));
    unifi.answer->model = "";  // no model: shown by its name
    EXPECT_EQ(SegmentOf(builder.BuildNetworkState(), "homeNetwork"),
              SegmentText("homeNetwork", "Dream Machine", "Gateway", "unknown", false, 2,
                          R"({"gatewayIP":"192.168.1.1","gatewayMAC":"FC:EC:DA:11:22:33",)"
                          R"("isUniFi":true})"));

    // Another gateway: named by its maker again.
    Home(net, "eth0", kIfTypeEthernet, 0, kGatewayMac);
    builder.NetworkChanged();
    EXPECT_EQ(SegmentOf(builder.BuildNetworkState(), "homeNetwork"), kGatewaySegment);
}

}  // namespace
}  // namespace quillon
