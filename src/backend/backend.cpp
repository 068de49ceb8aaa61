#include "backend/backend.h"

#include <algorithm>

#include "base/log.h"
#include "platform/threads.h"

namespace quillon {

Backend::Backend(BackendPorts ports) : ports_(ports), credentials_(ports.settings, ports.secrets) {}

Backend::~Backend() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return !running_; });
}

void Backend::Start() {
    config_ = LoadConfiguration(ports_.system);
    identity_ = InitIdentity(ports_.settings, ports_.system);
    credentials_.Load();
    updates_ = std::make_unique<UpdateService>(ports_.settings, ports_.system, identity_.appVersion,
                                               identity_.os, identity_.arch);
    if (config_.c2BaseUrl.empty()) {
        LogWrite(Info, "No backend configured - no check-in, telemetry or update offers");
        return;
    }
    if (ports_.http == nullptr) return;
    checkIn_ =
        std::make_unique<CheckIn>(*ports_.http, ports_.clock, config_, identity_, credentials_);
    checkIn_->SetAnswerHandler(
        [this](const std::string& body) { updates_->ApplyCheckInResponse(body); });
    telemetry_ = std::make_unique<Telemetry>(
        TelemetryPorts{*ports_.http, ports_.clock, ports_.threads, credentials_, identity_.clientId,
                       [this] { return checkIn_->Run(); }});
    {
        std::lock_guard lock(mutex_);
        running_ = true;
    }
    const bool started = ports_.threads.StartDetached([this] {
        checkIn_->Run();
        std::lock_guard lock(mutex_);
        running_ = false;
        idle_.notify_all();
    });
    if (!started) {
        std::lock_guard lock(mutex_);
        running_ = false;
        LogWrite(Error, "Failed to start check-in worker");
    }
}

void Backend::TrackEvent(const std::string& type, const std::string& data) {
    if (telemetry_) telemetry_->TrackEvent(type, data);
}

bool Backend::Stop(std::chrono::milliseconds bound) {
    const auto start = std::chrono::steady_clock::now();
    const bool sent = !telemetry_ || telemetry_->Shutdown(bound);
    std::unique_lock lock(mutex_);
    // Real time: this bounds how long a person waits for the process to end.
    const auto left = bound - std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - start);
    return idle_.wait_for(lock, std::max(left, std::chrono::milliseconds(0)), [this] {
        return !running_;
    }) && sent;
}

}  // namespace quillon
