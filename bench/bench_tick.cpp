// The UI thread's share of a measurement tick, on the simulated platform:
//  - state/build: BuildNetworkState over a 15-hop path (one silent hop) with two destinations,
//    every node's window full (360 samples), WiFi, public address and locations known;
//  - tick/full: the whole tick, i.e. collect the previous sweep's echo replies into the
//    windows, send the next sweep (one echo per node), then build the message;
//  - json/dump: JsonValue's compact dump of the same message, as a yardstick for the builder;
//  - registry/record_sample at 10, 100 and 1000 nodes: recording must not grow with the
//    registry.
// Ratios of mean real time follow the usual console table.
#include <benchmark/benchmark.h>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/json_value.h"
#include "path/current_path.h"
#include "path/diagnosis.h"
#include "path/echo_prober.h"
#include "path/network_state.h"
#include "path/node_registry.h"
#include "platform/sim/sim_icmp.h"
#include "platform/sim/sim_net_info.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_world.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"
#include "ratio_reporter.h"

namespace {

using namespace quillon;

constexpr Ipv4Address kVideo(192, 0, 2, 129);
constexpr Ipv4Address kMail(203, 0, 113, 200);

// A wireless home behind a cable ISP: fifteen hops to a content network, hop 4 silent; the
// second destination shares the first eight hops.
sim::WorldConfig World() {
    sim::WorldBuilder b;
    b.Seed(11).Home().Path(kVideo);
    b.Hop(sim::kHomeGateway, 1.8, 0.4).Named("router.home.arpa");
    b.Hop(Ipv4Address(100, 64, 0, 1), 9.6, 1.9).As(64500, "EXAMPLE-CABLE Carrier");
    b.Hop(Ipv4Address(198, 51, 100, 17), 11.2, 2.1).Named("ae3-0.bras2.example-cable.net");
    b.As(64500, "EXAMPLE-CABLE Carrier");
    b.NoAnswerHop();
    b.Hop(Ipv4Address(198, 51, 100, 94), 17.4, 3.2).Named("et-0-0-1.core1.example-cable.net");
    b.As(64500, "EXAMPLE-CABLE Carrier").Loss(1.5);
    b.Hop(Ipv4Address(198, 51, 100, 130), 17.9, 2.8).As(64500, "EXAMPLE-CABLE Carrier");
    b.Hop(Ipv4Address(203, 0, 113, 5), 18.3, 1.2).Named("ix.transit-one.example");
    b.As(64501, "TRANSIT-ONE Backbone");
    b.Hop(Ipv4Address(203, 0, 113, 38), 18.8, 1.4).As(64501, "TRANSIT-ONE Backbone");
    b.Hop(Ipv4Address(203, 0, 113, 77), 24.1, 2.6).As(64501, "TRANSIT-ONE Backbone");
    b.Hop(Ipv4Address(203, 0, 113, 101), 24.6, 2.2).As(64501, "TRANSIT-ONE Backbone");
    b.Hop(Ipv4Address(192, 0, 2, 9), 25.0, 1.1).Named("edge-ams1.cdn.example");
    b.As(64502, "EXAMPLE-CDN, Inc.");
    b.Hop(Ipv4Address(192, 0, 2, 33), 25.3, 0.9).As(64502, "EXAMPLE-CDN, Inc.");
    b.Hop(Ipv4Address(192, 0, 2, 65), 25.7, 1.0).As(64502, "EXAMPLE-CDN, Inc.");
    b.Hop(Ipv4Address(192, 0, 2, 97), 26.2, 1.3).As(64502, "EXAMPLE-CDN, Inc.");
    b.Hop(kVideo, 26.0, 1.2).Named("www.service.example").As(64502, "EXAMPLE-CDN, Inc.");
    b.Path(kMail).SameHopsAs(kVideo, 8);
    b.Hop(Ipv4Address(203, 0, 113, 150), 30.1, 2.0).As(64503, "MAIL-HOST");
    b.Hop(kMail, 31.4, 1.8).Named("mx.mail.example").As(64503, "MAIL-HOST");
    return b.Build();
}

HopLabel Label(const sim::HopConfig& hop, size_t index, size_t count) {
    if (hop.address.IsZero()) return HopLabel::Unknown;
    if (index == 0) return HopLabel::Local;
    if (index + 4 >= count) return HopLabel::Destination;
    return hop.asn == 64500 ? HopLabel::Isp : HopLabel::Transit;
}

struct RichWifi : WifiSource {
    WifiDetails QueryWifiDetails() override {
        WifiDetails d;
        d.ssid = "Home \"5G\"";
        d.signalQuality = 84;
        d.signalStrength = -41;
        d.channel = 44;
        d.frequency = 5220;
        d.band = "5 GHz";
        d.channelWidth = 80;
        d.bssid = "A4:2B:B0:C1:7E:12";
        d.phyType = "802.11ax";
        d.authentication = "WPA3-Personal";
        d.rxRate = 720.5;
        d.txRate = 864.9;
        d.connected = true;
        d.stationCount = 6;
        d.channelUtilization = 37;
        d.spatialStreams = 2;
        d.muMimo = true;
        d.countryCode = "DE";
        d.coChannelAPs = 2;
        d.neighborAPs = 14;
        d.isMlo = true;
        d.mloLinkCount = 2;
        d.mloLinks[0] = {44, 5220, "5 GHz", 80};
        d.mloLinks[1] = {37, 6135, "6 GHz", 160};
        return d;
    }
};

struct KnownPublicIp : PublicIpSource {
    PublicIpInfo GetPublicIpInfo() override {
        return {"198.51.100.211", Ipv4Address(),           53211, "dyn-211.example-cable.net",
                "64500",          "EXAMPLE-CABLE Carrier", true};
    }
};

struct Vendors : VendorSource {
    std::string GetVendor(const std::string& mac) override {
        return mac.rfind("A4:2B:B0", 0) == 0 ? "Example Networks Co." : "";
    }
};

// A warm cache: every public address of the path is placed.
struct CachedGeo : GeoSource {
    GeoLocation Lookup(const std::string& ip) override {
        GeoLocation g;
        g.ip = ip;
        g.city = ip == "198.51.100.211" ? "Zurich" : "Amsterdam";
        g.region = ip == "198.51.100.211" ? "Zurich" : "North Holland";
        g.country = g.countryCode = ip == "198.51.100.211" ? "CH" : "NL";
        g.latitude = ip == "198.51.100.211" ? 47.3769 : 52.3676;
        g.longitude = ip == "198.51.100.211" ? 8.5417 : 4.9041;
        g.isp = g.organization = "AS64500 EXAMPLE-CABLE Carrier";
        g.valid = true;
        return g;
    }
};

// The world, the registry filled as discovery would leave it, and the tick's parts.
struct TickSetup {
    TickSetup()
        : world(World(), clock),
          netInfo(world),
          icmp(world),
          registry(clock),
          hysteresis(clock),
          prober(icmp, registry),
          builder(NetworkStateContext{system,
                                      netInfo,
                                      registry,
                                      path,
                                      hysteresis,
                                      {},
                                      {},
                                      {},
                                      &wifi,
                                      &publicIp,
                                      &vendors,
                                      &geo,
                                      nullptr,
                                      nullptr}) {
        const sim::WorldConfig config = World();
        HopList hops;
        bool primary = true;
        for (const sim::PathConfig& p : config.paths) {
            for (size_t i = 0; i < p.hops.size(); ++i) {
                const sim::HopConfig& h = p.hops[i];
                HopRecord r;
                r.ttl = static_cast<int32_t>(i + 1);
                r.address = h.address;
                r.hostname = h.name;
                r.asn = h.asn ? std::to_string(h.asn) : "";
                r.asName = h.asName;
                r.label = Label(h, i, p.hops.size());
                if (primary) hops.push_back(r);
                if (h.address.IsZero()) continue;
                registry.GetOrCreateNode(h.address, {r.hostname, r.asn, r.asName, r.label},
                                         registry.Generation());
                for (int s = 0; s < kSampleWindowSize; ++s) {
                    registry.RecordSample(h.address, static_cast<uint32_t>(h.rttMs) + s % 3,
                                          s % 97 == 0);
                }
            }
            registry.AddDestination({p.destination, primary ? "Video service" : "Mail", primary});
            primary = false;
        }
        path.Publish(std::move(hops), path.Generation());
    }

    void Tick() {
        clock.Advance(5000);  // the shown-on-mains tick period: every echo has completed
        prober.CollectEchoReplies(
            [this](Ipv4Address address, uint32_t rtt, bool timedOut, uint64_t) {
                registry.RecordSample(address, rtt, timedOut);
            });
        prober.SendEchoSweep();
    }

    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimWorld world;
    sim::SimNetInfo netInfo;
    sim::SimIcmp icmp;
    NodeRegistry registry;
    CurrentPath path;
    Hysteresis hysteresis;
    EchoProber prober;
    RichWifi wifi;
    KnownPublicIp publicIp;
    Vendors vendors;
    CachedGeo geo;
    NetworkStateBuilder builder;
};

void StateBuild(benchmark::State& state) {
    TickSetup home;
    size_t bytes = 0;
    for (auto _ : state) {
        std::string text = home.builder.BuildNetworkState();
        bytes += text.size();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void FullTick(benchmark::State& state) {
    TickSetup home;
    home.Tick();  // the first sweep, so that every tick collects a full one
    for (auto _ : state) {
        home.Tick();
        std::string text = home.builder.BuildNetworkState();
        benchmark::DoNotOptimize(text);
    }
    state.counters["echoes_per_tick"] =
        static_cast<double>(home.world.SentEchoes().size()) / (state.iterations() + 1);
}

void JsonDump(benchmark::State& state) {
    TickSetup home;
    const std::string text = home.builder.BuildNetworkState();
    const JsonValue value = JsonValue::parse(text);
    for (auto _ : state) {
        std::string out = value.dump();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void RecordSample(benchmark::State& state) {
    sim::VirtualClock clock;
    NodeRegistry registry(clock);
    std::vector<Ipv4Address> addresses;
    for (int64_t i = 0; i < state.range(0); ++i) {
        const Ipv4Address address(10, static_cast<uint8_t>(i >> 8), i & 0xFF, 1);
        registry.GetOrCreateNode(address, {}, registry.Generation());
        for (int s = 0; s < kSampleWindowSize; ++s) registry.RecordSample(address, 20, false);
        addresses.push_back(address);
    }
    size_t next = 0;
    for (auto _ : state) {
        registry.RecordSample(addresses[next], 21, false);
        if (++next == addresses.size()) next = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
    {
        TickSetup home;
        std::cout << "message: " << home.builder.BuildNetworkState().size() << " bytes"
                  << std::endl;
    }
    benchmark::RegisterBenchmark("state/build", StateBuild);
    benchmark::RegisterBenchmark("tick/full", FullTick);
    benchmark::RegisterBenchmark("json/dump", JsonDump);
    benchmark::RegisterBenchmark("registry/record_sample", RecordSample)
        ->Arg(10)
        ->Arg(100)
        ->Arg(1000);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.PrintRatio("state build / JsonValue dump", "state/build", "json/dump");
    reporter.PrintRatio("full tick / state build", "tick/full", "state/build");
    reporter.PrintRatio("record_sample 1000 nodes / 10 nodes", "registry/record_sample/1000",
                        "registry/record_sample/10");
    return 0;
}
