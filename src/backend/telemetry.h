// Telemetry: small events (start, stop, path measurements) queued in memory and sent in
// batches, one JSON document each, to the endpoint the check-in handed out, with its bearer
// token. Best effort: a batch that is not delivered after three attempts (1 s and 2 s apart)
// is dropped; a rejected token (401) triggers a new check-in and, with a fresh token, the next
// attempt. Events are never written to disk.
//
// Recording never waits on the network: TrackEvent queues, and when a batch is due (100 events
// queued, 30 s since the last batch, or about 1 MiB of payload) it starts one sending worker,
// which sends batches while they are due and then ends; no timer runs in between. Shutdown
// sends what is left. The queue is bounded: while a slow backend holds the worker up the
// oldest events are dropped and counted, so memory stays flat.
//
// Threads: TrackEvent from any thread; the sending worker alongside; Shutdown on the UI thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "backend/identity.h"
#include "platform/clock.h"

namespace quillon {

class HttpClient;
class Threads;

struct TelemetryEvent {
    std::string type;
    std::string data;  // JSON text as the caller gave it
    uint32_t timestamp = 0;
};

// {"clientId":...,"events":[{"data":...,"timestamp":...,"type":...}]}: data as the object it
// parses to, else as the text unchanged.
std::string BatchDocument(const std::string& clientId, const std::deque<TelemetryEvent>& events);

struct TelemetryPorts {
    HttpClient& http;
    Clock& clock;
    Threads& threads;
    TelemetryCredentialStore& credentials;
    std::string clientId;
    // A new check-in, after the backend rejected the token; true when it answered.
    std::function<bool()> checkIn;
};

class Telemetry {
public:
    explicit Telemetry(TelemetryPorts ports);
    ~Telemetry();  // waits for a sending worker

    void TrackEvent(const std::string& type, const std::string& data);
    // Sends what is queued, waiting at most `bound`; later events are ignored. False when the
    // worker is still sending; the object must then outlive the process's end.
    bool Shutdown(std::chrono::milliseconds bound);

    uint64_t DroppedEvents();
    size_t Queued();

    static constexpr size_t kFlushCount = 100;
    static constexpr uint64_t kFlushAgeMs = 30000;
    static constexpr size_t kFlushBytes = 1048576;
    static constexpr size_t kEventOverheadBytes = 100;
    static constexpr size_t kMaxQueued = 1000;
    static constexpr int kAttempts = 3;

private:
    bool FlushDue(uint64_t now) const;  // with mutex_ held
    // Starts the sending worker unless one runs; with mutex_ held, released for the start.
    void StartSending(std::unique_lock<std::mutex>& lock);
    void SendWhileDue();
    void Send(const std::deque<TelemetryEvent>& events);

    TelemetryPorts ports_;
    Wakeup stopWaiting_;  // cuts the pause between attempts short at shutdown

    std::mutex mutex_;
    std::condition_variable idle_;
    std::deque<TelemetryEvent> queue_;
    size_t queuedBytes_ = 0;
    uint64_t lastFlush_ = 0;
    uint64_t dropped_ = 0;
    uint64_t droppedLoggedAt_ = 0;
    bool stopping_ = false;
    bool sending_ = false;
};

}  // namespace quillon
