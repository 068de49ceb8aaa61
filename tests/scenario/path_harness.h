// PathHarness: the path-measurement subsystem on a simulated network in virtual time, driven
// the way the main window drives it: a measurement tick every 5 s, every second while the
// verdict gathers evidence. Discovery cycles run inline, so their probes let virtual time pass
// before the tick goes on. The diagnostic log is written to the simulated system's folder and
// captured in `log`.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/json_value.h"
#include "fakes/log_capture.h"
#include "path/path_monitor.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_scenario.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::test {

class PathHarness {
public:
    explicit PathHarness(sim::WorldConfig world)
        : network(std::move(world), clock),
          monitor(PathPorts{clock, threads, network.icmp(), network.netInfo(), network.dns(),
                            system, &network.sockets()},
                  [this](const std::string& type, const std::string& data) {
                      events.emplace_back(type, data);
                  }) {
        monitor.Prober().OpenSharedHandle();
        monitor.AddDestinations(DefaultDestinations());
    }

    // One measurement tick, then the rest of the tick period the monitor asks for.
    std::string Tick() {
        const uint64_t start = clock.Tick64();
        if (std::optional<std::string> built = monitor.MeasurementTick(kTickMs)) state = *built;
        const uint64_t period = monitor.NextTickDelayMs(kTickMs);
        const uint64_t spent = clock.Tick64() - start;
        if (spent < period) clock.Advance(period - spent);
        return state;
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) Tick();
    }
    // Ticks for `ms` of virtual time.
    void RunFor(uint64_t ms) {
        const uint64_t end = clock.Elapsed() + ms;
        while (clock.Elapsed() < end) Tick();
    }
    JsonValue State() const { return JsonValue::parse(state); }
    std::string Overall() const { return State().member("overallStatus").asString(); }
    std::string CalloutTitle() const {
        const JsonValue state = State();
        const JsonValue& callout = state.member("culpritCallout");
        return callout.contains("title") ? callout.member("title").asString() : "";
    }
    std::string CalloutSegment() const {
        const JsonValue state = State();
        const JsonValue& callout = state.member("culpritCallout");
        return callout.contains("segmentId") ? callout.member("segmentId").asString() : "";
    }
    static constexpr uint64_t kTickMs = 5000;

    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads{sim::ThreadMode::Inline};
    sim::SimNetwork network;
    std::vector<std::pair<std::string, std::string>> events;
    PathMonitor monitor;
    std::string state;
    TestLog log{system, clock};  // last: opened once the monitor is built, closed before it goes
};

inline sim::WorldConfig LoadWorld(const std::string& name) {
    sim::ScenarioLoad load = sim::LoadScenarioFile(std::string(QUILLON_SCENARIO_DIR) + "/" + name);
    if (!load.ok) throw std::runtime_error(load.error);
    return load.world;
}

}  // namespace quillon::test
