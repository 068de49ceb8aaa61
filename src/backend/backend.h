// Backend: the application's whole conversation with its backend, started and stopped by the
// application: configuration, identity, the telemetry credentials, the check-in, which runs
// on a worker at start-up so that a slow or unreachable backend never delays the window, and
// telemetry. Without a configured base URL nothing is sent (docs/telemetry.md).
//
// Start and Stop run on the UI thread; TrackEvent on any; the workers alongside.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "backend/app_config.h"
#include "backend/check_in.h"
#include "backend/identity.h"
#include "backend/telemetry.h"
#include "backend/update_service.h"

namespace quillon {

class Clock;
class HttpClient;
class Secrets;
class Settings;
class System;
class Threads;

struct BackendPorts {
    System& system;
    Clock& clock;
    Threads& threads;
    Settings* settings = nullptr;  // null: a new client id every run, credentials not kept
    Secrets* secrets = nullptr;    // null: the token is never stored
    HttpClient* http = nullptr;    // null: no check-in
};

class Backend {
public:
    explicit Backend(BackendPorts ports);
    ~Backend();  // waits for the check-in worker
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    // Reads the configuration, the identity and the stored credentials, then starts the
    // check-in when a backend is configured.
    void Start();
    // Records a telemetry event (sent in a later batch); ignored without a backend.
    void TrackEvent(const std::string& type, const std::string& data);
    // Sends the last telemetry and waits at most `bound` for it and for the check-in. False
    // when a worker is still running (the object and the HTTP client must then outlive the
    // process's end).
    bool Stop(std::chrono::milliseconds bound);

    const AppConfig& Config() const { return config_; }
    const ClientIdentity& Identity() const { return identity_; }
    TelemetryCredentialStore& Credentials() { return credentials_; }
    CheckIn* CheckInClient() { return checkIn_.get(); }
    // The update offers of the check-in answers; there after Start.
    UpdateService* Updates() { return updates_.get(); }

private:
    BackendPorts ports_;
    AppConfig config_;
    ClientIdentity identity_;
    TelemetryCredentialStore credentials_;
    std::unique_ptr<CheckIn> checkIn_;
    std::unique_ptr<Telemetry> telemetry_;
    std::unique_ptr<UpdateService> updates_;

    std::mutex mutex_;
    std::condition_variable idle_;
    bool running_ = false;
};

}  // namespace quillon
