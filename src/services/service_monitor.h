// ServiceMonitor: keeps the list of monitored services and one worker thread per probed
// service. A worker probes its service, hands the result to the result callback, pauses for the
// service's interval, and goes round again. At most kMaxProbedServices run: the first enabled
// services of the list, in list order; a disabled service holds no worker.
//
// Changes apply at once: adding, editing or removing a service (from the page) starts, updates
// or stops its worker, and a service beyond the limit moves up when one before it goes. An
// edited worker probes its new definition straight away; a stopped worker finishes the probe
// under way (its result is dropped) and ends, without the caller waiting for it.
//
// Any thread may call, except that nothing here may be called from the result callback. The
// callback runs on the worker threads, one call at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "services/service_definition.h"
#include "services/service_probes.h"

namespace quillon {

class Clock;
class Threads;

inline constexpr size_t kMaxProbedServices = 5;

struct MonitoredService {
    ServiceDefinition definition;
    bool probed = false;  // has a worker
};

using ServiceResultCallback = std::function<void(const ServiceProbeResult&)>;

class ServiceMonitor {
public:
    ServiceMonitor(ServiceProber& prober, Clock& clock, Threads& threads)
        : prober_(prober), clock_(clock), threads_(threads) {}
    ~ServiceMonitor();
    ServiceMonitor(const ServiceMonitor&) = delete;
    ServiceMonitor& operator=(const ServiceMonitor&) = delete;

    // Start-up: logs "Service probing initialized" once; from then on changes start workers.
    void InitializeServiceProbing();
    // Replaces the list with the definitions loaded at start-up and starts their workers.
    void StartServiceProbing(std::vector<ServiceDefinition> definitions);
    // Adds a service, or replaces the one with the same id, and applies the change.
    void AddMonitoredService(const ServiceDefinition& definition);
    // Removes every service with this id and applies the change.
    void RemoveMonitoredService(const std::string& id);
    // Stops every worker and waits up to `bound` for them to end. False when some worker is
    // still in a probe then: it still uses the prober, so its owner must outlive it.
    bool StopServiceProbing(std::chrono::milliseconds bound);
    bool ShutdownServiceProbing(std::chrono::milliseconds bound);

    // Replaces the result callback; when it returns, the old one is no longer being called.
    // Calls are one at a time.
    void SetServiceProbeCallback(ServiceResultCallback callback);

    // The list in order, each with whether it has a worker, taken at one moment.
    std::vector<MonitoredService> MonitoredServices();

private:
    struct Worker;

    void ApplyChanges();  // with listMutex_ held
    bool StopWorkers(std::chrono::milliseconds bound);
    void StartWorker(const std::shared_ptr<Worker>& worker);
    void RunWorker(const std::shared_ptr<Worker>& worker);
    void Deliver(const ServiceProbeResult& result);

    ServiceProber& prober_;
    Clock& clock_;
    Threads& threads_;

    std::mutex listMutex_;
    std::vector<ServiceDefinition> services_;
    std::map<std::string, std::shared_ptr<Worker>> workers_;
    bool initialized_ = false;
    bool running_ = false;

    std::mutex callbackMutex_;
    ServiceResultCallback callback_;

    std::mutex threadsMutex_;
    std::condition_variable threadsDone_;
    int activeThreads_ = 0;
};

}  // namespace quillon
