// JsonValue against nlohmann::json on a network-state message, the largest document the
// application builds on every tick: parse and compact dump, side by side in one run, followed by
// the ratios of real time (ours / nlohmann; below 1 means faster).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/json_value.h"
#include "ratio_reporter.h"

namespace {

// Writes JSON text member by member, in the order the message builder uses.
class Writer {
  public:
    Writer& Open(char bracket) {
        Separate();
        out_ += bracket;
        comma_ = false;
        return *this;
    }
    Writer& Close(char bracket) {
        out_ += bracket;
        comma_ = true;
        return *this;
    }
    Writer& Key(const char* key) {
        Separate();
        out_ += '"';
        out_ += key;
        out_ += "\":";
        comma_ = false;
        return *this;
    }
    Writer& Text(const char* key, const std::string& value) {
        Key(key).Raw('"' + value + '"');
        return *this;
    }
    Writer& Int(const char* key, long long value) { return Key(key).Raw(std::to_string(value)); }
    Writer& Fixed(const char* key, double value, int decimals) {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
        return Key(key).Raw(buf);
    }
    Writer& Bool(const char* key, bool value) { return Key(key).Raw(value ? "true" : "false"); }
    const std::string& str() const { return out_; }

  private:
    void Separate() {
        if (comma_) out_ += ',';
    }
    Writer& Raw(const std::string& token) {
        Separate();
        out_ += token;
        comma_ = true;
        return *this;
    }

    std::string out_;
    bool comma_ = false;
};

struct Hop {
    const char* ip;
    const char* hostname;
    const char* asn;
    const char* asName;
    double rtt, loss, jitter;
    const char* segment;
};

// A wireless home behind a cable ISP, fifteen hops to a content network; hop 4 never answers.
const Hop kHops[] = {
    {"192.168.1.1", "router.home.arpa", "", "", 1.8, 0.0, 0.4, "LOCAL"},
    {"100.64.0.1", "", "", "", 9.6, 0.0, 1.9, "ISP"},
    {"198.51.100.17", "ae3-0.bras2.ber4.example-cable.net", "64500", "EXAMPLE-CABLE Carrier", 11.2,
     0.0, 2.1, "ISP"},
    {"*", "", "", "", 0, 100, 0, "?"},
    {"198.51.100.94", "et-0-0-1.core1.fra2.example-cable.net", "64500", "EXAMPLE-CABLE Carrier",
     17.4, 1.5, 3.2, "ISP"},
    {"198.51.100.130", "et-2-1-0.core2.fra2.example-cable.net", "64500", "EXAMPLE-CABLE Carrier",
     17.9, 0.0, 2.8, "ISP"},
    {"203.0.113.5", "decix-fra.ix.transit-one.example", "64501", "TRANSIT-ONE Backbone", 18.3, 0.0,
     1.2, "TRANS"},
    {"203.0.113.38", "be-11.cr01.fra.transit-one.example", "64501", "TRANSIT-ONE Backbone", 18.8,
     0.0, 1.4, "TRANS"},
    {"203.0.113.77", "be-4.cr02.ams.transit-one.example", "64501", "TRANSIT-ONE Backbone", 24.1,
     0.5, 2.6, "TRANS"},
    {"203.0.113.101", "", "64501", "TRANSIT-ONE Backbone", 24.6, 0.0, 2.2, "TRANS"},
    {"192.0.2.9", "edge-ams1.cdn.example", "64502", "EXAMPLE-CDN, Inc.", 25.0, 0.0, 1.1, "DEST"},
    {"192.0.2.33", "lb-ams1-03.cdn.example", "64502", "EXAMPLE-CDN, Inc.", 25.3, 0.0, 0.9, "DEST"},
    {"192.0.2.65", "", "64502", "EXAMPLE-CDN, Inc.", 25.7, 0.0, 1.0, "DEST"},
    {"192.0.2.97", "cache-ams1-12.cdn.example", "64502", "EXAMPLE-CDN, Inc.", 26.2, 0.0, 1.3,
     "DEST"},
    {"192.0.2.129", "www.service.example", "64502", "EXAMPLE-CDN, Inc.", 26.0, 0.0, 1.2, "DEST"},
};

void SegmentHead(Writer& w, const char* id, const std::string& displayName, const char* category,
                 const char* status, bool culprit, int order) {
    w.Open('{').Text("id", id).Text("type", id).Text("displayName", displayName);
    w.Text("categoryLabel", category).Text("status", status).Bool("isCulprit", culprit);
    w.Bool("isVisible", true).Int("displayOrder", order).Key("details").Open('{');
}

std::string NetworkStateText() {
    Writer w;
    w.Open('{').Text("type", "networkState").Text("overallStatus", "degraded");
    w.Key("hops").Open('[');
    int ttl = 1;
    for (const Hop& hop : kHops) {
        w.Open('{').Int("hopNumber", ttl++).Text("ip", hop.ip);
        if (*hop.hostname) w.Text("hostname", hop.hostname);
        if (*hop.asn) w.Text("asn", hop.asn).Text("asnName", hop.asName);
        if (hop.ip[0] == '*') {
            w.Int("rttMs", 0).Int("loss", 100).Int("jitter", 0);
        } else {
            w.Fixed("rttMs", hop.rtt, 1).Fixed("loss", hop.loss, 1).Fixed("jitter", hop.jitter, 1);
        }
        w.Text("segment", hop.segment).Close('}');
    }
    w.Close(']');
    w.Key("wifiDetails")
        .Open('{')
        .Text("ssid", "Home \\\"5G\\\"")
        .Text("bssid", "a4:2b:b0:c1:7e:12");
    w.Int("signalStrength", -58).Int("signalQuality", 84).Int("channel", 44);
    w.Text("bandwidth", "80 MHz").Text("security", "WPA3-SAE").Text("phyType", "802.11ax");
    w.Int("txRate", 864).Int("rxRate", 720).Close('}');
    w.Key("publicIpInfo").Open('{').Text("ipAddress", "198.51.100.211");
    w.Text("hostname", "dyn-198-51-100-211.example-cable.net").Text("asn", "AS64500");
    w.Text("ispName", "EXAMPLE-CABLE Carrier").Int("port", 53211).Close('}');

    w.Key("segments").Open('[');
    SegmentHead(w, "device", "WORKSTATION-07", "Client", "healthy", false, 0);
    w.Text("hostname", "WORKSTATION-07")
        .Text("os", "Windows 11 Pro 10.0.22631")
        .Text("arch", "x64");
    w.Text("interfaceName", "Wi-Fi").Text("localIP", "192.168.1.23");
    w.Text("clientMac", "3c:22:fb:9a:10:4e").Text("clientManufacturer", "Example Devices GmbH");
    w.Fixed("diskUsedPercent", 61.4, 1).Int("diskTotalGB", 475).Int("diskFreeGB", 183);
    w.Fixed("ramUsedPercent", 47.0, 1).Int("ramTotalGB", 31).Int("ramAvailableGB", 16);
    w.Close('}').Close('}');

    SegmentHead(w, "connection", "Home \\\"5G\\\"", "Link", "healthy", false, 1);
    w.Text("ssid", "Home \\\"5G\\\"").Text("bssid", "a4:2b:b0:c1:7e:12");
    w.Text("accessPoint", "Example Networks Co.").Int("signalStrength", -58);
    w.Int("signalQuality", 84).Int("channel", 44).Text("bandwidth", "80 MHz");
    w.Text("txRate", "864 Mbps").Text("security", "WPA3-SAE").Text("phyType", "802.11ax");
    w.Text("band", "5 GHz").Int("frequency", 5220).Int("spatialStreams", 2).Bool("muMimo", true);
    w.Int("channelUtilization", 37).Int("stationCount", 6).Int("coChannelAPs", 2);
    w.Int("neighborAPs", 14).Text("countryCode", "DE").Int("mloLinkCount", 2);
    w.Key("mloLinks").Open('[');
    w.Open('{').Int("channel", 44).Int("frequency", 5220).Text("band", "5 GHz");
    w.Int("channelWidth", 80).Close('}');
    w.Open('{').Int("channel", 37).Int("frequency", 6135).Text("band", "6 GHz");
    w.Int("channelWidth", 160).Close('}');
    w.Close(']').Close('}').Close('}');

    SegmentHead(w, "homeNetwork", "Example Networks Co.", "Gateway", "healthy", false, 2);
    w.Text("gatewayIP", "192.168.1.1").Text("gatewayMAC", "a4:2b:b0:c1:7e:10");
    w.Text("gatewayManufacturer", "Example Networks Co.").Fixed("latencyMs", 1.8, 1);
    w.Fixed("packetLoss", 0.0, 1).Fixed("jitterMs", 0.4, 1);
    w.Close('}').Close('}');

    SegmentHead(w, "isp", "EXAMPLE-CABLE Carrier", "ISP", "degraded", true, 3);
    w.Text("publicIp", "198.51.100.211");
    w.Text("publicHostname", "dyn-198-51-100-211.example-cable.net").Text("asn", "AS64500");
    w.Text("provider", "EXAMPLE-CABLE Carrier").Text("city", "Zürich").Text("region", "Zürich");
    w.Text("country", "Switzerland").Text("countryCode", "CH");
    w.Text("location", "Zürich, Zürich, Switzerland").Fixed("latitude", 47.3769, 4);
    w.Fixed("longitude", 8.5417, 4).Fixed("latencyMs", 9.6, 1).Fixed("packetLoss", 0.0, 1);
    w.Fixed("jitterMs", 1.9, 1).Fixed("ispDistanceMiles", 187, 0);
    w.Close('}').Close('}');

    SegmentHead(w, "services", "Video service", "Destination", "healthy", false, 4);
    w.Text("hostname", "www.service.example").Fixed("latencyMs", 26.0, 1);
    w.Fixed("packetLoss", 0.0, 1).Fixed("jitterMs", 1.2, 1);
    w.Text("destLocation", "Amsterdam, North Holland").Fixed("distanceMiles", 382, 0);
    w.Close('}').Close('}');
    w.Close(']');

    w.Key("culpritCallout").Open('{').Text("severity", "degraded").Text("segmentId", "isp");
    w.Text("title", "Your internet provider is losing packets");
    w.Text("description",
           "Hop 5 inside EXAMPLE-CABLE Carrier drops 1.5 % of probes and adds 6 ms of delay.\\n"
           "Later hops recover, so the loss is likely rate limiting rather than congestion.");
    w.Text("remedy", "If calls or games stutter, note the time and contact your provider.");
    w.Close('}').Close('}');
    return w.str();
}

const std::string& Document() {
    static const std::string text = NetworkStateText();
    return text;
}

void ParseOurs(benchmark::State& state) {
    for (auto _ : state) {
        quillon::JsonValue value = quillon::JsonValue::parse(Document());
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(state.iterations() * Document().size());
}

void ParseNlohmann(benchmark::State& state) {
    for (auto _ : state) {
        nlohmann::json value = nlohmann::json::parse(Document());
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(state.iterations() * Document().size());
}

void DumpOurs(benchmark::State& state) {
    const quillon::JsonValue value = quillon::JsonValue::parse(Document());
    for (auto _ : state) {
        std::string text = value.dump();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * Document().size());
}

void DumpNlohmann(benchmark::State& state) {
    const nlohmann::json value = nlohmann::json::parse(Document());
    for (auto _ : state) {
        std::string text = value.dump();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(state.iterations() * Document().size());
}

}  // namespace

int main(int argc, char** argv) {
    // Both libraries must read the document alike, or the comparison means nothing.
    const quillon::JsonValue ours = quillon::JsonValue::parse(Document());
    if (nlohmann::json::parse(ours.dump()) != nlohmann::json::parse(Document())) {
        std::fprintf(stderr, "the two parsers disagree on the benchmark document\n");
        return 1;
    }
    std::cout << "document: " << Document().size() << " bytes" << std::endl;

    benchmark::RegisterBenchmark("parse/quillon", ParseOurs);
    benchmark::RegisterBenchmark("parse/nlohmann", ParseNlohmann);
    benchmark::RegisterBenchmark("dump/quillon", DumpOurs);
    benchmark::RegisterBenchmark("dump/nlohmann", DumpNlohmann);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    reporter.PrintRatio("parse ratio (ours/nlohmann)", "parse/quillon", "parse/nlohmann");
    reporter.PrintRatio("dump ratio (ours/nlohmann)", "dump/quillon", "dump/nlohmann");
    return 0;
}
