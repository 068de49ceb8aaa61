#include "backend/backend.h"

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
    if (config_.c2BaseUrl.empty()) {
        LogWrite(Info, "No backend configured - no check-in, telemetry or update offers");
        return;
    }
    if (ports_.http == nullptr) return;
    checkIn_ =
        std::make_unique<CheckIn>(*ports_.http, ports_.clock, config_, identity_, credentials_);
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

bool Backend::Stop(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    // Real time: this bounds how long a person waits for the process to end.
    return idle_.wait_for(lock, bound, [this] { return !running_; });
}

}  // namespace quillon
