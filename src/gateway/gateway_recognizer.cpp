#include "gateway/gateway_recognizer.h"

#include "base/log.h"
#include "gateway/gateway_client.h"
#include "platform/threads.h"

namespace quillon {

GatewayRecognizer::~GatewayRecognizer() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    idle_.wait(lock, [this] { return !running_; });
}

std::optional<UnifiSystemInfo> GatewayRecognizer::Recognised(const std::string& gatewayIp,
                                                             const std::string& gatewayMac) {
    std::unique_lock lock(mutex_);
    if (gatewayMac != mac_) {
        mac_ = gatewayMac;
        ip_ = gatewayIp;
        answer_.reset();
        ++asked_;
        // The prefix test is free; only a likely console is asked over the network.
        if (IsUniFiMac(gatewayMac) && !running_ && !stopping_) {
            running_ = true;
            lock.unlock();
            if (!threads_.StartDetached([this] { Work(); })) {
                lock.lock();
                running_ = false;
                idle_.notify_all();
            }
            return std::nullopt;
        }
    }
    return answered_ == asked_ ? answer_ : std::nullopt;
}

uint64_t GatewayRecognizer::Changes() {
    std::lock_guard lock(mutex_);
    return changes_;
}

bool GatewayRecognizer::Stop(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    return idle_.wait_for(lock, bound, [this] { return !running_; });
}

void GatewayRecognizer::Work() {
    std::unique_lock lock(mutex_);
    // A new hardware address while a question was out asks again for that one.
    while (!stopping_ && answered_ != asked_ && IsUniFiMac(mac_)) {
        const uint64_t question = asked_;
        const std::string ip = ip_;
        lock.unlock();
        std::optional<UnifiSystemInfo> info = DetectUniFiGateway(http_, ip);
        lock.lock();
        if (question != asked_) continue;
        answered_ = question;
        answer_ = std::move(info);
        if (answer_) {
            ++changes_;
            LogWrite(Info, "UniFi gateway detected: %s (%s)", answer_->name.c_str(),
                     answer_->model.c_str());
        }
    }
    running_ = false;
    idle_.notify_all();
}

}  // namespace quillon
