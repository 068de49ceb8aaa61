#include "backend/telemetry.h"

#include "base/json_value.h"
#include "base/log.h"
#include "net/http_client.h"
#include "platform/threads.h"

namespace quillon {

namespace {

// Pause before attempt 2 and 3.
constexpr uint32_t kRetryPauseMs[] = {1000, 2000, 4000};
// A full queue is reported at most this often.
constexpr uint64_t kDropLogEveryMs = 3600 * 1000;

}  // namespace

std::string BatchDocument(const std::string& clientId, const std::deque<TelemetryEvent>& events) {
    JsonValue::Array list;
    list.reserve(events.size());
    for (const TelemetryEvent& event : events) {
        JsonValue item;
        JsonValue data;
        try {
            data = JsonValue::parse(event.data);
        } catch (const std::exception&) {
            data = JsonValue();
        }
        item["data"] = data.type() == JsonType::Object ? std::move(data) : JsonValue(event.data);
        item["timestamp"] = event.timestamp;
        item["type"] = event.type;
        list.push_back(std::move(item));
    }
    JsonValue batch;
    batch["clientId"] = clientId;
    batch["events"] = std::move(list);
    return batch.dump();
}

Telemetry::Telemetry(TelemetryPorts ports) : ports_(std::move(ports)) {
    lastFlush_ = ports_.clock.Tick64();
    LogWrite(Debug, "Telemetry service initialized");
}

Telemetry::~Telemetry() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    idle_.wait(lock, [this] { return !sending_; });
}

bool Telemetry::FlushDue(uint64_t now) const {
    return queue_.size() >= kFlushCount || now - lastFlush_ >= kFlushAgeMs ||
           queuedBytes_ >= kFlushBytes;
}

void Telemetry::TrackEvent(const std::string& type, const std::string& data) {
    const uint64_t now = ports_.clock.Tick64();
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    queue_.push_back({type, data, static_cast<uint32_t>(ports_.clock.UnixSeconds())});
    queuedBytes_ += kEventOverheadBytes + data.size();
    while (queue_.size() > kMaxQueued) {
        queuedBytes_ -= kEventOverheadBytes + queue_.front().data.size();
        queue_.pop_front();
        ++dropped_;
        if (droppedLoggedAt_ == 0 || now - droppedLoggedAt_ >= kDropLogEveryMs) {
            droppedLoggedAt_ = now == 0 ? 1 : now;
            LogWrite(Warn, "Telemetry queue full - oldest events dropped (%llu so far)",
                     static_cast<unsigned long long>(dropped_));
        }
    }
    if (FlushDue(now)) StartSending(lock);
}

void Telemetry::StartSending(std::unique_lock<std::mutex>& lock) {
    if (sending_) return;
    sending_ = true;
    lock.unlock();
    // An inline worker (tests) takes the lock itself.
    const bool started = ports_.threads.StartDetached([this] { SendWhileDue(); });
    lock.lock();
    if (!started) {
        sending_ = false;
        idle_.notify_all();
        LogWrite(Error, "Failed to start telemetry worker");
    }
}

void Telemetry::SendWhileDue() {
    std::unique_lock lock(mutex_);
    while (!queue_.empty() && (stopping_ || FlushDue(ports_.clock.Tick64()))) {
        std::deque<TelemetryEvent> batch;
        batch.swap(queue_);
        queuedBytes_ = 0;
        lastFlush_ = ports_.clock.Tick64();
        lock.unlock();
        Send(batch);
        lock.lock();
    }
    sending_ = false;
    idle_.notify_all();
}

void Telemetry::Send(const std::deque<TelemetryEvent>& events) {
    TelemetryCredentials credentials = ports_.credentials.Get();
    if (!credentials.active || credentials.endpoint.empty() || credentials.token.empty()) {
        LogWrite(Debug, "Telemetry disabled, dropping %zu events", events.size());
        return;
    }
    const std::string body = BatchDocument(ports_.clientId, events);
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        if (attempt > 1) ports_.clock.SleepUnlessWoken(kRetryPauseMs[attempt - 2], stopWaiting_);
        credentials = ports_.credentials.Get();
        HttpRequest request;
        request.method = "POST";
        request.url = credentials.endpoint;
        request.body = body;
        request.timeoutMs = 30000;
        request.maxBodyBytes = 64 * 1024;
        request.headers["Authorization"] = "Bearer " + credentials.token;
        request.headers["Content-Type"] = "application/json";
        const HttpResponse response = ports_.http.SendHttpRequest(request);
        if (response.success) {
            LogWrite(Debug, "Telemetry batch sent: %zu events", events.size());
            return;
        }
        if (response.statusCode == 401) {
            LogWrite(Warn, "Telemetry token expired, triggering re-check-in");
            if (!ports_.checkIn || !ports_.checkIn()) return;
            const TelemetryCredentials renewed = ports_.credentials.Get();
            if (!renewed.active || renewed.token.empty() ||
                static_cast<int64_t>(renewed.tokenExpires) <= ports_.clock.UnixSeconds() + 300) {
                return;
            }
            continue;
        }
        LogWrite(Warn, "Telemetry send failed (attempt %d): %s (status %d)", attempt,
                 response.error.c_str(), response.statusCode);
    }
}

bool Telemetry::Shutdown(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    stopWaiting_.Notify();
    if (!queue_.empty()) StartSending(lock);
    // Real time: this bounds how long a person waits for the process to end.
    const bool idle = idle_.wait_for(lock, bound, [this] { return !sending_; });
    if (idle) LogWrite(Debug, "Telemetry service shutdown");
    return idle;
}

uint64_t Telemetry::DroppedEvents() {
    std::lock_guard lock(mutex_);
    return dropped_;
}

size_t Telemetry::Queued() {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace quillon
