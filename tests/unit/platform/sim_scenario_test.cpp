#include "platform/sim/sim_scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/file_text.h"
#include "platform/sim/json_syntax.h"
#include "platform/sim/sim_address.h"
#include "platform/sim/sim_dns.h"
#include "platform/sim/sim_icmp.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_world.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::sim {
namespace {

const std::filesystem::path kWorlds = QUILLON_SCENARIO_DIR;

std::string World(const char* file) {
    return (kWorlds / file).string();
}

TEST(SimScenario, ExampleWorldsLoadAndBehave) {
    const ScenarioLoad healthy = LoadScenarioFile(World("healthy_home.json"));
    ASSERT_TRUE(healthy.ok) << healthy.error;
    const WorldConfig& home = healthy.world;
    EXPECT_EQ(home.name, "Healthy home");
    ASSERT_EQ(home.adapters.size(), 3u);
    EXPECT_EQ(home.adapters[0].ifType, kIfTypeWireless);
    EXPECT_EQ(home.adapters[0].ipv4Unicast.at(0), Ipv4Address(192, 168, 1, 23));
    EXPECT_EQ(home.adapters[0].physicalAddress.size(), 6u);
    EXPECT_FALSE(home.adapters[1].operStatusUp);
    EXPECT_EQ(home.routes.at(0).nextHop, Ipv4Address(192, 168, 1, 1));
    EXPECT_EQ(home.routes.at(1).mask, Ipv4Address(255, 255, 255, 0));
    ASSERT_EQ(home.paths.size(), 2u);
    // The second path names the shared routers by address and gets the same settings.
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(home.paths[1].hops.at(i).address, home.paths[0].hops.at(i).address);
        EXPECT_EQ(home.paths[1].hops.at(i).name, home.paths[0].hops.at(i).name);
        EXPECT_EQ(home.paths[1].hops.at(i).rttMs, home.paths[0].hops.at(i).rttMs);
    }
    VirtualClock clock;
    SimWorld healthyWorld(home, clock);
    EXPECT_EQ(SimDns(healthyWorld)
                  .Query("1.113.0.203.in-addr.arpa", DnsType::Ptr, false)
                  .records.at(0)
                  .ptr,
              "bras1.city.isp.example");

    // WiFi loss: one echo a second to the destination; a fifth of them vanish from 30 s to
    // 120 s, none before or after.
    const ScenarioLoad lossy = LoadScenarioFile(World("wifi_loss.json"));
    ASSERT_TRUE(lossy.ok) << lossy.error;
    ASSERT_EQ(lossy.world.timeline.size(), 5u);  // loss, and the WiFi signal and neighbours
    EXPECT_EQ(lossy.world.timeline[0].atMs, 30'000u);
    EXPECT_EQ(lossy.world.timeline[3].atMs, 120'000u);
    ASSERT_EQ(lossy.world.wifi.size(), 1u);
    EXPECT_EQ(lossy.world.wifi[0].frequencyMhz, 5180u);
    EXPECT_EQ(lossy.world.wifi[0].neighbors.at(0).frequencyMhz, 2437u);
    SimNetwork lossyNet(lossy.world, clock);
    auto handle = lossyNet.icmp().Open();
    int answered[3] = {0, 0, 0};
    int sent[3] = {0, 0, 0};
    for (int second = 0; second < 2000; ++second) {
        const int phase = second < 30 ? 0 : second < 120 ? 1 : 2;
        EchoRequest request;
        request.destination = Ipv4Address(1, 1, 1, 1);
        EchoReply reply;
        const uint64_t start = lossyNet.world().ElapsedMs();
        ++sent[phase];
        answered[phase] += handle->Echo(request, reply) ? 1 : 0;
        const uint64_t used = lossyNet.world().ElapsedMs() - start;
        if (used < 1000) clock.Advance(1000 - used);
    }
    EXPECT_EQ(answered[0], sent[0]);
    EXPECT_NEAR(double(answered[1]) / sent[1], 0.8, 0.13);  // 90 echoes: 3 deviations
    EXPECT_EQ(answered[2], sent[2]);

    // A silent destination: routers answer up to the hop that never does, then nothing.
    const ScenarioLoad silent = LoadScenarioFile(World("no_answer_destination.json"));
    ASSERT_TRUE(silent.ok) << silent.error;
    SimWorld silentWorld(silent.world, clock);
    handle = SimIcmp(silentWorld).Open();
    for (uint8_t ttl = 1; ttl <= 15; ++ttl) {
        EchoRequest request;
        request.destination = Ipv4Address(1, 1, 1, 1);
        request.ttl = ttl;
        EchoReply reply;
        const bool answer = handle->Echo(request, reply);
        EXPECT_EQ(answer, ttl <= 3) << int(ttl);
        if (answer) {
            EXPECT_EQ(reply.status, kIcmpStatusTtlExpiredTransit);
        }
    }
    EXPECT_EQ(SimDns(silentWorld).Query("AS64520.asn.cymru.com", DnsType::Txt, false).ok, true);
}

TEST(SimScenario, BadInputIsNamedNotFatal) {
    const std::string adapter =
        R"({"name": "Wi-Fi", "ifIndex": 12, "type": "wifi", "ipv4": ["192.168.1.23"]})";
    const std::string route = R"({"destination": "0.0.0.0/0", "nextHop": "192.168.1.1", )"
                              R"("ifIndex": 12})";
    const std::string path =
        R"({"destination": "1.1.1.1", "hops": [{"address": "192.168.1.1", "rttMs": 2}]})";
    const auto world = [&](const std::string& extra) {
        return "{\"adapters\": [" + adapter + "], \"routes\": [" + route + "], \"paths\": [" +
               path + "]" + extra + "}";
    };
    ASSERT_TRUE(LoadScenarioText(world("")).ok) << LoadScenarioText(world("")).error;

    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "line 1, column 1: the document ends"},
        {"{\"seed\": 1,\n \"paths\": [}", "line 2, column 12: expected a value"},
        {"{\"seed\": 1} trailing", "unexpected text after the end"},
        {"{\"seed\": 1, \"seed\": 2}", "member \"seed\" appears twice"},
        {"[1, 2]", "expected an object, found an array"},
        {"{\"seed\": 1.5}", "seed: expected a whole number, found a number"},
        {"{\"seed\": -1}", "seed: -1 is out of range"},
        {"{\"seed\": 1e999}", "line 1, column 10: number 1e999 is out of range"},
        {"{\"seed\": 9223372036854775808}", "number 9223372036854775808 is out of range"},
        {"{\"sede\": 1}", "unknown member \"sede\""},
        {"{\"adapters\": [{\"name\": \"x\", \"type\": \"wifi\"}]}",
         "adapters[0]: missing member \"ifIndex\""},
        {"{\"adapters\": [{\"name\": \"x\", \"ifIndex\": 1, \"type\": \"token ring\"}]}",
         "adapters[0].type: \"token ring\" is not"},
        {"{\"adapters\": [{\"name\": 5, \"ifIndex\": 1, \"type\": 6}]}",
         "adapters[0].name: expected a string, found a whole number"},
        {"{\"adapters\": [{\"name\": \"e\", \"ifIndex\": 1, \"type\": \"ethernet\", \"wifi\": "
         "{}}]}",
         "adapters[0].wifi: only a wifi adapter has a \"wifi\" section"},
        {"{\"adapters\": [{\"name\": \"w\", \"ifIndex\": 1, \"type\": \"wifi\", \"wifi\": "
         "{\"ssid\": \"a\", \"bssid\": \"00:11:22:33:44:55\", \"signal\": 50, \"channel\": 36, "
         "\"band\": \"2.4 GHz\"}}]}",
         "adapters[0].wifi.channel: 2.4 GHz channels are 1 to 14"},
        {"{\"adapters\": [{\"name\": \"w\", \"ifIndex\": 1, \"type\": \"wifi\", \"wifi\": "
         "{\"ssid\": \"a\", \"bssid\": \"00:11:22:33:44:55\", \"signal\": 50, \"channel\": 1, "
         "\"elements\": \"0b0\"}}]}",
         "adapters[0].wifi.elements: odd number of hexadecimal digits"},
        {world(", \"timeline\": [{\"at\": 1, \"change\": \"wifiSignal\", \"signal\": 20}]"),
         "timeline[0]: no adapter with a \"wifi\" section is named"},
        {world(", \"neighbors\": [{\"address\": \"192.168.1.1\", \"ifIndex\": 9, "
               "\"mac\": \"00:11:22:33:44:55\"}]"),
         "neighbors[0].ifIndex: no adapter has ifIndex 9"},
        {world(", \"neighbors\": [{\"address\": \"192.168.1.1\", \"ifIndex\": 12, "
               "\"mac\": \"00:11:22:33:44\"}]"),
         "neighbors[0].mac: \"00:11:22:33:44\" is not a hardware address"},
        {"{\"routes\": [{\"destination\": \"10.0.0.1/8\", \"ifIndex\": 1}]}",
         "routes[0].destination: \"10.0.0.1/8\" is not a prefix"},
        {"{\"paths\": [{\"destination\": \"1.1.1.256\", \"hops\": []}]}",
         "paths[0].destination: \"1.1.1.256\" is not an IPv4 address"},
        {"{\"paths\": [{\"destination\": \"1.1.1.1\", \"hops\": [{\"address\": \"10.0.0.1\"}]}]}",
         "paths[0].hops[0]: missing member \"rttMs\""},
        {"{\"paths\": [{\"destination\": \"1.1.1.1\", \"hops\": [{\"address\": \"10.0.0.1\", "
         "\"rttMs\": 1, \"lossPercent\": 120}]}]}",
         "paths[0].hops[0].lossPercent: 120 is out of range (0 to 100)"},
        {"{\"paths\": [{\"destination\": \"1.1.1.1\", \"hops\": [\"10.0.0.1\"]}]}",
         "paths[0].hops[0]: no hop with address 10.0.0.1 is described earlier"},
        {world(", \"timeline\": [{\"at\": 5, \"change\": \"hopLoss\", \"hop\": \"10.9.9.9\", "
               "\"percent\": 5}]"),
         "timeline[0].hop: no path has a hop with address 10.9.9.9"},
        {world(", \"timeline\": [{\"at\": 5, \"change\": \"hopLoss\", "
               "\"hop\": {\"path\": \"1.1.1.1\", \"ttl\": 4}, \"percent\": 5}]"),
         "timeline[0].hop.ttl: the path to 1.1.1.1 has only 1 hops"},
        {world(", \"timeline\": [{\"change\": \"adapterDown\", \"adapter\": \"Wi-Fi\"}]"),
         "timeline[0]: give the time as either"},
        {world(", \"timeline\": [{\"at\": 1, \"change\": \"meteorStrike\"}]"),
         "timeline[0].change: \"meteorStrike\" is not one of"},
        {world(", \"timeline\": [{\"at\": 1, \"change\": \"adapterUp\", \"adapter\": \"LAN\"}]"),
         "timeline[0].adapter: no adapter is \"LAN\""},
        {"{\"timeline\": [{\"at\": 1, \"change\": \"gatewayMac\", "
         "\"mac\": \"00:11:22:33:44:55\"}]}",
         "timeline[0]: no default route names the gateway"},
        {"{\"dns\": {\"answers\": [{\"name\": \"x\", \"type\": \"TXT\", \"records\": "
         "[{\"type\": \"TXT\", \"target\": \"y\"}]}]}}",
         "dns.answers[0].records[0]: \"target\" does not belong to a TXT record"},
        {"{\"dns\": {\"answers\": [{\"name\": \"x\", \"type\": \"MX\", \"error\": 3}]}}",
         "dns.answers[0].type: \"MX\" is not"},
        {"{\"stun\": {\"mappedPort\": 1}}", "stun: missing member \"publicAddress\""},
        {"{\"stun\": {\"publicAddress\": \"0.0.0.0\"}}", "stun.publicAddress: 0.0.0.0 reports"},
        {"{\"stun\": {\"publicAddress\": \"192.0.2.1\", \"port\": 0}}",
         "stun.port: 0 is out of range (1 to 65535)"},
        {world(", \"timeline\": [{\"at\": 1, \"change\": \"publicAddress\"}]"),
         "timeline[0]: missing member \"address\""},
    };
    for (const auto& [text, expected] : cases) {
        const ScenarioLoad load = LoadScenarioText(text);
        EXPECT_FALSE(load.ok) << text;
        EXPECT_NE(load.error.find(expected), std::string::npos)
            << "input: " << text << "\nerror: " << load.error;
    }

    const ScenarioLoad missing = LoadScenarioFile(World("no_such_world.json"));
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error.find("no_such_world.json: cannot be read"), std::string::npos);

    // Every cut of a real file fails cleanly, naming a place in the text.
    const std::string full = test::ReadFileText(World("wifi_loss.json"));
    ASSERT_FALSE(full.empty());
    const std::string trimmed = full.substr(0, full.find_last_not_of(" \n") + 1);
    for (size_t cut = 0; cut + 1 < trimmed.size(); ++cut) {
        const ScenarioLoad load = LoadScenarioText(std::string_view(trimmed).substr(0, cut));
        ASSERT_FALSE(load.ok) << cut;
        ASSERT_EQ(load.error.rfind("not valid JSON: line ", 0), 0u) << load.error;
    }
}

TEST(SimScenario, SyntaxCheckAcceptsAllOfJson) {
    for (const char* good : {"0", "-0.5e+3", "-9223372036854775808", " \"\\u00e9\\n\\\"\" ", "[]",
                             "{}", "[true, false, null, 1, \"a\"]",
                             "{\"a\": {\"a\": [1, {\"a\": 2}]}}", "\"caf\xC3\xA9\""}) {
        EXPECT_EQ(FindJsonSyntaxError(good), std::nullopt) << good;
    }
    for (const char* bad : {"01", "1.", "-", "[1,]", "{\"a\" 1}", "{\"a\":1,}", "\"\\x\"",
                            "\"\\u12g4\"", "\"tab\there\"", "tru", "[[[", "{'a': 1}"}) {
        EXPECT_NE(FindJsonSyntaxError(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(FindJsonSyntaxError("{\n  \"\xC3\xA9\": tru\n}"),
              "line 2, column 8: expected a value (object, array, string, number, true, false "
              "or null)");
    EXPECT_NE(FindJsonSyntaxError(std::string(600, '[') + std::string(600, ']')), std::nullopt);
}

}  // namespace
}  // namespace quillon::sim
