#include "services/service_monitor.h"

#include <set>

#include "base/log.h"
#include "platform/clock.h"
#include "platform/threads.h"

namespace quillon {

struct ServiceMonitor::Worker {
    std::mutex mutex;
    ServiceDefinition definition;
    bool stop = false;
    Wakeup wakeup;
};

ServiceMonitor::~ServiceMonitor() {
    StopWorkers(std::chrono::milliseconds::max());
}

void ServiceMonitor::InitializeServiceProbing() {
    std::lock_guard lock(listMutex_);
    if (initialized_) return;
    initialized_ = true;
    running_ = true;
    LogWrite(Info, "Service probing initialized");
}

void ServiceMonitor::StartServiceProbing(std::vector<ServiceDefinition> definitions) {
    std::lock_guard lock(listMutex_);
    services_ = std::move(definitions);
    running_ = true;
    ApplyChanges();
    LogWrite(Info, "Started service probing with %zu services", services_.size());
    LogWrite(Info, "Loaded and started probing %d services", static_cast<int>(services_.size()));
}

void ServiceMonitor::AddMonitoredService(const ServiceDefinition& definition) {
    std::lock_guard lock(listMutex_);
    std::erase_if(services_, [&](const ServiceDefinition& d) { return d.id == definition.id; });
    services_.push_back(definition);
    LogWrite(Debug, "Added monitored service: %s", definition.name.c_str());
    ApplyChanges();
}

void ServiceMonitor::RemoveMonitoredService(const std::string& id) {
    std::lock_guard lock(listMutex_);
    std::erase_if(services_, [&](const ServiceDefinition& d) { return d.id == id; });
    LogWrite(Debug, "Removed monitored service: %s", id.c_str());
    ApplyChanges();
}

void ServiceMonitor::ApplyChanges() {
    std::map<std::string, const ServiceDefinition*> wanted;
    if (running_) {
        for (const ServiceDefinition& d : services_) {
            if (wanted.size() == kMaxProbedServices) break;
            if (d.enabled) wanted.emplace(d.id, &d);  // a repeated id keeps its first entry
        }
    }
    for (auto it = workers_.begin(); it != workers_.end();) {
        const auto keep = wanted.find(it->first);
        Worker& worker = *it->second;
        {
            std::lock_guard lock(worker.mutex);
            if (keep == wanted.end()) {
                worker.stop = true;
            } else if (worker.definition == *keep->second) {
                ++it;
                continue;
            } else {
                worker.definition = *keep->second;
            }
        }
        worker.wakeup.Notify();
        it = keep == wanted.end() ? workers_.erase(it) : std::next(it);
    }
    for (const auto& [id, definition] : wanted) {
        if (workers_.contains(id)) continue;
        auto worker = std::make_shared<Worker>();
        worker->definition = *definition;
        workers_.emplace(id, worker);
        StartWorker(worker);
    }
}

void ServiceMonitor::StartWorker(const std::shared_ptr<Worker>& worker) {
    {
        std::lock_guard lock(threadsMutex_);
        ++activeThreads_;
    }
    if (threads_.StartDetached([this, worker] { RunWorker(worker); })) return;
    std::lock_guard lock(threadsMutex_);
    --activeThreads_;
    LogWrite(Error, "Failed to start a probe worker for service: %s",
             worker->definition.name.c_str());
}

void ServiceMonitor::RunWorker(const std::shared_ptr<Worker>& worker) {
    for (;;) {
        ServiceDefinition definition;
        {
            std::lock_guard lock(worker->mutex);
            if (worker->stop) break;
            definition = worker->definition;
        }
        worker->wakeup.Consume();  // a change from before this probe is in it already
        const ServiceProbeResult result = prober_.Probe(definition);
        {
            std::lock_guard lock(worker->mutex);
            if (worker->stop) break;  // removed meanwhile: the result belongs to nobody
        }
        Deliver(result);
        clock_.SleepUnlessWoken(PauseAfterProbeMs(definition), worker->wakeup);
    }
    std::lock_guard lock(threadsMutex_);
    --activeThreads_;
    threadsDone_.notify_all();
}

// Under the lock, so that once SetServiceProbeCallback has replaced a callback, no call of the
// old one is still under way (its owner may go right after). Callbacks only format and post.
void ServiceMonitor::Deliver(const ServiceProbeResult& result) {
    std::lock_guard lock(callbackMutex_);
    if (callback_) callback_(result);
}

bool ServiceMonitor::StopServiceProbing(std::chrono::milliseconds bound) {
    const bool allEnded = StopWorkers(bound);
    LogWrite(Debug, "Stopped service probing");
    return allEnded;
}

bool ServiceMonitor::StopWorkers(std::chrono::milliseconds bound) {
    {
        std::lock_guard lock(listMutex_);
        running_ = false;
        ApplyChanges();
    }
    std::unique_lock lock(threadsMutex_);
    const auto ended = [this] { return activeThreads_ == 0; };
    if (bound == std::chrono::milliseconds::max()) {
        threadsDone_.wait(lock, ended);
        return true;
    }
    return threadsDone_.wait_for(lock, bound, ended);
}

bool ServiceMonitor::ShutdownServiceProbing(std::chrono::milliseconds bound) {
    const bool allEnded = StopServiceProbing(bound);
    {
        std::lock_guard lock(listMutex_);
        initialized_ = false;
    }
    LogWrite(Debug, "Service probing shutdown");
    return allEnded;
}

void ServiceMonitor::SetServiceProbeCallback(ServiceResultCallback callback) {
    std::lock_guard lock(callbackMutex_);
    callback_ = std::move(callback);
}

std::vector<MonitoredService> ServiceMonitor::MonitoredServices() {
    std::lock_guard lock(listMutex_);
    std::vector<MonitoredService> list;
    list.reserve(services_.size());
    for (const ServiceDefinition& d : services_) list.push_back({d, workers_.contains(d.id)});
    return list;
}

}  // namespace quillon
