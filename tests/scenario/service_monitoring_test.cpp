// Service monitoring over time: which services get a worker, how changes from the page take
// effect while workers run, the pause between probes, and the whole path from a page command
// to its file, its worker and the metrics the page receives.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include "app/application.h"
#include "fakes/controller_rig.h"
#include "fakes/eventually.h"
#include "fakes/fake_service_ports.h"
#include "fakes/native_path.h"
#include "net/http_client.h"
#include "platform/platform.h"
#include "platform/shell_messages.h"
#include "platform/sim/sim_scenario.h"
#include "services/service_monitor.h"
#include "services/service_store.h"

namespace quillon::test {
namespace {

// Workers run on real threads: up to 10 s for what they do.
template <class F>
bool Eventually(F done) {
    return test::Eventually(done, std::chrono::seconds(10));
}

// The ids the monitor gives a worker, from one snapshot of its list.
std::set<std::string> ProbedIds(ServiceMonitor& monitor) {
    std::set<std::string> ids;
    for (const MonitoredService& s : monitor.MonitoredServices()) {
        if (s.probed) ids.insert(s.definition.id);
    }
    return ids;
}

// Results as the callback sees them, per service, with the virtual time of each.
class Results {
public:
    void Add(const ServiceProbeResult& r, uint64_t at) {
        std::lock_guard lock(mutex_);
        byId_[r.serviceId].push_back({r, at});
    }
    size_t Count(const std::string& id) {
        std::lock_guard lock(mutex_);
        return byId_[id].size();
    }
    ServiceProbeResult Last(const std::string& id) {
        std::lock_guard lock(mutex_);
        return byId_[id].back().first;
    }
    std::vector<ServiceProbeResult> All(const std::string& id) {
        std::lock_guard lock(mutex_);
        std::vector<ServiceProbeResult> all;
        for (const auto& entry : byId_[id]) all.push_back(entry.first);
        return all;
    }
    std::vector<uint64_t> Times(const std::string& id) {
        std::lock_guard lock(mutex_);
        std::vector<uint64_t> times;
        for (const auto& entry : byId_[id]) times.push_back(entry.second);
        return times;
    }
    std::set<std::string> Ids() {
        std::lock_guard lock(mutex_);
        std::set<std::string> ids;
        for (const auto& [id, list] : byId_) {
            if (!list.empty()) ids.insert(id);
        }
        return ids;
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::vector<std::pair<ServiceProbeResult, uint64_t>>> byId_;
};

struct MonitorRig {
    sim::VirtualClock clock;
    sim::SimSystem system;
    TestLog log{system, clock};
    sim::SimThreads threads{sim::ThreadMode::Threaded};
    FakeDnsA dns{clock};
    FakeSockets sockets;
    FakeHttp http;
    HttpClient client{http};
    sim::SimNetwork network{SmallHome(), clock};
    ServiceProber prober{clock, network.icmp(), dns, sockets, client};
    ServiceMonitor monitor{prober, clock, threads};
    Results results;

    MonitorRig() {
        monitor.SetServiceProbeCallback(
            [this](const ServiceProbeResult& r) { results.Add(r, clock.Elapsed()); });
        monitor.InitializeServiceProbing();
    }
};

ServiceDefinition Dns(std::string id, std::string target, bool enabled = true) {
    return {id, id, std::move(target), ProbeType::Dns, 0, 1000, enabled};
}

TEST(ServiceMonitoring, TheFirstFiveEnabledServicesAreProbedAndChangesApplyAtOnce) {
    MonitorRig rig;
    rig.dns.Answer("example.com", Ipv4Address(93, 184, 216, 34));
    std::vector<ServiceDefinition> list;
    for (int i = 1; i <= 7; ++i) {
        std::string id = "s";  // appended: "s" + ... trips GCC 12's -O3 -Wrestrict
        id += std::to_string(i);
        list.push_back(Dns(id, "example.com", i != 3));
    }
    rig.monitor.StartServiceProbing(list);
    EXPECT_EQ(rig.log.Count("[INFO] Started service probing with 7 services"), 1);
    const std::set<std::string> firstFive = {"s1", "s2", "s4", "s5", "s6"};
    ASSERT_TRUE(Eventually([&] {
        for (const auto& id : firstFive) {
            if (rig.results.Count(id) < 3) return false;
        }
        return true;
    }));
    EXPECT_EQ(rig.results.Ids(), firstFive);
    EXPECT_EQ(ProbedIds(rig.monitor), firstFive);
    EXPECT_EQ(rig.monitor.MonitoredServices().size(), 7u);

    // Removing one lets the next enabled service move up; the removed one goes quiet.
    rig.monitor.RemoveMonitoredService("s1");
    const size_t s1AtRemoval = rig.results.Count("s1");
    ASSERT_TRUE(Eventually([&] { return rig.results.Count("s7") >= 3; }));
    EXPECT_LE(rig.results.Count("s1"), s1AtRemoval + 1);  // at most the probe under way

    // An edit is probed from the next cycle on; a disabled service leaves its slot, and one
    // enabled again takes a free slot.
    rig.monitor.AddMonitoredService(Dns("s2", "gone.example"));
    ASSERT_TRUE(Eventually([&] { return rig.results.Last("s2").error == "DNS query failed"; }));
    rig.monitor.AddMonitoredService(Dns("s4", "example.com", false));
    EXPECT_FALSE(ProbedIds(rig.monitor).contains("s4"));
    rig.monitor.AddMonitoredService(Dns("s3", "example.com", true));  // enabled: moves up
    ASSERT_TRUE(Eventually([&] { return rig.results.Count("s3") >= 2; }));

    // A TCP target whose port is not a number fails clearly, cycle after cycle.
    rig.monitor.RemoveMonitoredService("s5");
    rig.monitor.AddMonitoredService({"t", "t", "example.com:https", ProbeType::Tcp, 0, 1000, true});
    ASSERT_TRUE(Eventually([&] { return rig.results.Count("t") >= 3; }));
    EXPECT_EQ(rig.results.Last("t").error, "Invalid port: not a number from 1 to 65535");

    EXPECT_TRUE(rig.monitor.StopServiceProbing(std::chrono::milliseconds(5000)));
    const std::set<std::string> ids = rig.results.Ids();
    size_t total = 0;
    for (const auto& id : ids) total += rig.results.Count(id);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    size_t after = 0;
    for (const auto& id : ids) after += rig.results.Count(id);
    EXPECT_EQ(after, total);
    rig.monitor.AddMonitoredService(Dns("late", "example.com"));  // stopped: listed, not probed
    EXPECT_EQ(rig.monitor.MonitoredServices().back().definition.id, "late");
    EXPECT_FALSE(ProbedIds(rig.monitor).contains("late"));
}

TEST(ServiceMonitoring, ThePauseBetweenProbesIsTheIntervalOrFiveSeconds) {
    for (const auto& [interval, pause] :
         {std::pair{0u, 5000u}, {0xFFFFFFFFu, 5000u}, {2500u, 2500u}}) {
        MonitorRig rig;
        rig.dns.Answer("example.com", Ipv4Address(93, 184, 216, 34));
        rig.monitor.StartServiceProbing(
            {{"a", "a", "example.com", ProbeType::Dns, 0, interval, true}});
        ASSERT_TRUE(Eventually([&] { return rig.results.Count("a") >= 4; }));
        rig.monitor.StopServiceProbing(std::chrono::milliseconds(5000));
        const std::vector<uint64_t> times = rig.results.Times("a");
        for (size_t i = 1; i < times.size(); ++i) {
            EXPECT_EQ(times[i] - times[i - 1], pause) << interval;
        }
    }
}

// The simulated services misbehave over time; each result says what was wrong at the time it
// was probed. One service per run: a worker alone on the virtual clock sees the world exactly
// at the time its result carries.
std::vector<ServiceProbeResult> ProbeThroughTrouble(const ServiceDefinition& service,
                                                    int64_t* start) {
    const sim::ScenarioLoad load =
        sim::LoadScenarioFile(std::string(QUILLON_SCENARIO_DIR) + "/service_trouble.json");
    EXPECT_TRUE(load.ok) << load.error;
    sim::VirtualClock clock;
    sim::SimThreads threads{sim::ThreadMode::Threaded};
    sim::SimNetwork network{load.world, clock};
    HttpClient client{network.http()};
    client.Init();
    ServiceProber prober{clock, network.icmp(), network.dns(), network.sockets(), client};
    ServiceMonitor monitor{prober, clock, threads};
    Results results;
    *start = clock.UnixSeconds();
    monitor.SetServiceProbeCallback([&](const ServiceProbeResult& r) { results.Add(r, 0); });
    monitor.InitializeServiceProbing();
    monitor.StartServiceProbing({service});
    EXPECT_TRUE(Eventually([&] {
        return results.Count(service.id) > 0 && results.Last(service.id).timestamp - *start > 200;
    }));
    monitor.StopServiceProbing(std::chrono::milliseconds(5000));
    return results.All(service.id);
}

TEST(ServiceMonitoring, ResultsFollowTheServicesThroughTheirTrouble) {
    const auto check = [](const ServiceDefinition& service, auto expect) {
        int64_t start = 0;
        const std::vector<ServiceProbeResult> all = ProbeThroughTrouble(service, &start);
        ASSERT_GE(all.size(), 10u) << service.id;
        for (const ServiceProbeResult& r : all) {
            const int64_t at = r.timestamp - start;
            SCOPED_TRACE(service.id + " at " + std::to_string(at) + " s: " + r.error);
            expect(at, r);
        }
    };
    check({"shop", "Shop", "shop.example.net", ProbeType::Https, 0, 10000, true},
          [](int64_t, const ServiceProbeResult& r) {
              EXPECT_EQ(r.error, "Failed to send request");  // the certificate ran out
              EXPECT_TRUE(r.tlsInfo.isValid);
              EXPECT_EQ(r.tlsInfo.daysUntilExpiry, 0);
          });
    check({"nas", "NAS", "https://nas.home.example/", ProbeType::Https, 0, 10000, true},
          [](int64_t, const ServiceProbeResult& r) {
              EXPECT_EQ(r.error, "Failed to send request");  // self-signed
              EXPECT_EQ(r.tlsInfo.subject, "NAS-1F2E3D");
          });
    check({"game", "Game", "play.game.example:27015", ProbeType::Tcp, 0, 10000, true},
          [](int64_t at, const ServiceProbeResult& r) {
              const bool down = at >= 60 && at < 120;
              EXPECT_EQ(r.error, down ? "Connection timed out" : "");
          });
    check({"status", "Status", "status.example.org", ProbeType::Https, 0, 10000, true},
          [](int64_t at, const ServiceProbeResult& r) {
              EXPECT_EQ(r.error, at >= 90 ? "HTTP 503" : "");
              EXPECT_GT(r.tlsInfo.daysUntilExpiry, 0);
              EXPECT_EQ(r.ttfbMs > 400.0f, at >= 150);
          });
}

// The whole application: services loaded from disk at start, the page told about them, a save
// and a delete from the page carried out on the files and the workers.
TEST(ServiceMonitoring, PageCommandsReachFilesWorkersAndThePage) {
    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads{sim::ThreadMode::Threaded};
    sim::SimNetwork network{SmallHome(), clock};
    FakeShell shell{clock};
    FakeNetEvents netEvents;
    FakeDnsA dns{clock};
    FakeSockets sockets;
    FakeHttp http;
    FakeFiles files;
    LogCapture log;
    dns.Answer("example.com", Ipv4Address(93, 184, 216, 34));
    sockets.names["example.com"] = Ipv4Address(93, 184, 216, 34);
    sockets.openPorts = {443};
    http.answer = [](const HttpExchange&) {
        HttpOutcome o;
        o.received = true;
        o.statusCode = 200;
        o.timings = {0, 2, 10, 30, 31, 80, 90};
        o.certificate = {true, "Example \"Org\", Inc.", "CA", 0, 4102444800, ""};
        return o;
    };
    system.executablePath = system.Root() + Native("/bin/quillon");
    std::filesystem::create_directories(system.Root() + Native("/bin/ui"));
    std::ofstream(system.Root() + Native("/bin/ui/index.html")) << "<!doctype html>";
    const std::string folder = system.AppFolderPath(AppFolder::Config) + Native("/services.d");
    std::filesystem::create_directories(folder);
    std::ofstream(folder + Native("/dns.json"))
        << R"({"id":"dns","target":"example.com","probeType":"dns"})";
    std::ofstream(folder + Native("/bad.json")) << "{";

    Platform platform;
    platform.clock = &clock;
    platform.threads = &threads;
    platform.system = &system;
    platform.icmp = &network.icmp();
    platform.netInfo = &network.netInfo();
    platform.netEvents = &netEvents;
    platform.dns = &dns;
    platform.sockets = &sockets;
    platform.http = &http;
    platform.files = &files;
    platform.shell = &shell;

    const auto posts = [&](const std::string& mark) {
        int n = 0;
        for (const std::string& p : shell.pagePosts) n += p.find(mark) != std::string::npos;
        return n;
    };
    const auto waitForPost = [&](const std::string& mark) {
        return Eventually([&] {
            shell.DeliverPosted();
            return posts(mark) > 0;
        });
    };
    Application app(platform, ApplicationOptions{});
    shell.whileRunning = [&](FakeShell& s) {
        s.PageReady();
        EXPECT_EQ(posts(R"("type":"serviceList")"), 1);
        EXPECT_EQ(
            posts(
                R"({"enabled":true,"id":"dns","intervalMs":5000,"name":"example.com","port":0,"probeType":"dns","target":"example.com","probed":true})"),
            1);
        ASSERT_TRUE(waitForPost(
            R"({"type":"serviceMetrics","payload":{"serviceId":"dns","latencyMs":0.0,"lossPercent":0.0,"jitterMs":0.0,"success":true,"timestamp":)"));

        s.PageSays(
            R"({"action":"saveEndpoint","service":{"id":"web","name":"Caf\u00e9 \"Web\"","target":"example.com","probeType":"https","port":0,"intervalMs":30000,"enabled":true}})");
        EXPECT_EQ(
            posts(
                R"({"type":"serviceChangeResult","payload":{"action":"save","id":"web","ok":true}})"),
            1);
        EXPECT_EQ(posts(R"("name":"Café \"Web\"")"), 1);  // in the new list, intact
        ASSERT_TRUE(std::filesystem::exists(folder + Native("/web.json")));
        ASSERT_TRUE(waitForPost(R"("serviceId":"web")"));
        EXPECT_GE(
            posts(
                R"("httpTiming":{"dnsMs":2.0,"connectMs":28.0,"ttfbMs":49.0,"transferMs":10.0,"totalMs":89.0,"statusCode":200},"tlsInfo":{"isValid":true,"subject":"Example \"Org\", Inc.","issuer":"CA","daysUntilExpiry":)"),
            1);
        // A disabled service is listed without a worker.
        s.PageSays(
            R"({"action":"saveEndpoint","service":{"id":"off","target":"off.example","probeType":"dns","enabled":false}})");
        EXPECT_EQ(
            posts(
                R"("id":"off","intervalMs":5000,"name":"off.example","port":0,"probeType":"dns","target":"off.example","probed":false})"),
            1);

        files.fail = true;
        s.PageSays(R"({"action":"saveEndpoint","service":{"id":"x","target":"h"}})");
        EXPECT_EQ(
            posts(
                R"({"type":"serviceChangeResult","payload":{"action":"save","id":"x","ok":false,"error":"The service could not be saved: its file could not be written in )"),
            1);
        EXPECT_FALSE(ProbedIds(*app.Services()).contains("x"));

        s.PageSays(R"({"action":"deleteEndpoint","id":"dns"})");
        EXPECT_FALSE(std::filesystem::exists(folder + Native("/dns.json")));
        EXPECT_FALSE(ProbedIds(*app.Services()).contains("dns"));
        EXPECT_EQ(
            posts(
                R"({"type":"serviceChangeResult","payload":{"action":"delete","id":"dns","ok":true}})"),
            1);
        s.Command(kCommandExit);
    };
    EXPECT_EQ(app.Run(), 0);
    EXPECT_FALSE(app.WorkersLeftRunning());
    EXPECT_TRUE(std::filesystem::exists(folder + Native("/bad.json")));
    EXPECT_EQ(log.Lines({"service file", "service to", "service:", "service probing", "services",
                         "Service"}),
              (std::vector<std::string>{
                  "[INFO] Service probing initialized",
                  "[WARN] Failed to parse service file: " + folder + Native("/bad.json"),
                  "[WARN] Skipped 1 malformed service files",
                  "[INFO] Started service probing with 1 services",
                  "[INFO] Loaded and started probing 1 services",
                  "[INFO] Loaded 1 monitored services from disk",
                  "[INFO] Saved service to " + folder + Native("/web.json"),
                  "[INFO] Saved and started monitoring service: Café \"Web\"",
                  "[INFO] Saved service to " + folder + Native("/off.json"),
                  "[INFO] Saved and started monitoring service: off.example",
                  "[ERROR] Failed to open service file for writing: " + folder + Native("/x.json"),
                  "[ERROR] Failed to save service: h",  // named after its target
                  "[INFO] Deleted service file: " + folder + Native("/dns.json"),
                  "[INFO] Deleted and stopped monitoring service: dns",
              }));
}

}  // namespace
}  // namespace quillon::test
