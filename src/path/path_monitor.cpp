#include "path/path_monitor.h"

#include "app/log.h"
#include "discovery/address_text.h"
#include "platform/threads.h"

namespace quillon {

std::vector<Destination> DefaultDestinations() {
    return {{MakeIpv4(1, 1, 1, 1), "Cloudflare DNS", true},
            {MakeIpv4(8, 8, 8, 8), "Google DNS", false}};
}

PathMonitor::PathMonitor(PathPorts ports, EventSink trackEvent)
    : ports_(ports),
      registry_(ports.clock),
      prober_(ports.icmp, registry_),
      lookups_(ports.dns),
      hysteresis_(ports.clock),
      discovery_(PathDiscoveryContext{ports.clock, ports.netInfo, registry_, currentPath_,
                                      prober_, lookups_, std::move(trackEvent)}),
      builder_(NetworkStateContext{ports.system, ports.netInfo, registry_, currentPath_,
                                   hysteresis_,
                                   [this] { return discovery_.DestinationUnreached(); }}) {}

PathMonitor::~PathMonitor() {
    std::unique_lock lock(workersMutex_);
    workersIdle_.wait(lock, [this] { return workers_ == 0; });
}

void PathMonitor::AddDestinations(const std::vector<Destination>& destinations) {
    for (const Destination& d : destinations) registry_.AddDestination(d);
    LogWrite(Info, "Initialized %zu default destinations", destinations.size());
}

bool PathMonitor::StartDiscoveryCycle(std::function<void()> then) {
    {
        std::lock_guard lock(workersMutex_);
        if (discovery_.Stopping()) return false;
        ++workers_;
    }
    const bool started = ports_.threads.StartDetached([this, then = std::move(then)] {
        discovery_.RunDiscoveryCycle();
        if (then && !discovery_.Stopping()) then();
        std::lock_guard lock(workersMutex_);
        if (--workers_ == 0) workersIdle_.notify_all();
    });
    if (!started) {
        std::lock_guard lock(workersMutex_);
        if (--workers_ == 0) workersIdle_.notify_all();
        LogWrite(Error, "Failed to start path discovery worker");
    }
    return started;
}

bool PathMonitor::Stop(std::chrono::milliseconds bound) {
    std::unique_lock lock(workersMutex_);
    discovery_.Stop();
    // Real time, not the clock port: this bounds how long a person waits for the process to end.
    return workersIdle_.wait_for(lock, bound, [this] { return workers_ == 0; });
}

std::string PathMonitor::MeasurementTick() {
    if (!discovery_.AllStagesDone() && !discovery_.Running()) StartDiscoveryCycle();
    if (discovery_.PrimaryDone()) {
        prober_.CollectEchoReplies([this](uint32_t address, uint32_t rttMs, bool timedOut) {
            registry_.RecordSample(address, rttMs, timedOut);
        });
        prober_.SendEchoSweep();
    }
    return builder_.BuildNetworkState();
}

}  // namespace quillon
