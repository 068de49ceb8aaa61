// GatewayRecognizer: finds out whether the home gateway is a UniFi console, for the network
// state's gateway name and the page's sign-in. A gateway whose hardware address carries one of
// the maker's prefixes is asked to describe itself once per hardware address, on a worker of
// its own, so that a slow or silent gateway never holds up the UI thread; the answer is kept
// until the hardware address changes.
//
// Recognised and Changes: any thread (the state builder's UI thread). The worker writes the
// answer under the lock. Stop ends it at shutdown.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "path/state_sources.h"

namespace quillon {

class Http;
class Threads;

class GatewayRecognizer final : public UnifiSource {
public:
    GatewayRecognizer(Http& http, Threads& threads) : http_(http), threads_(threads) {}
    ~GatewayRecognizer() override;  // waits for the worker
    GatewayRecognizer(const GatewayRecognizer&) = delete;
    GatewayRecognizer& operator=(const GatewayRecognizer&) = delete;

    std::optional<UnifiSystemInfo> Recognised(const std::string& gatewayIp,
                                              const std::string& gatewayMac) override;
    uint64_t Changes() override;

    // Shutdown: no more questions. False when a question in flight did not end within `bound`;
    // the recognizer must then not be destroyed.
    bool Stop(std::chrono::milliseconds bound);

private:
    void Work();

    Http& http_;
    Threads& threads_;

    std::mutex mutex_;
    std::condition_variable idle_;
    std::string mac_;  // the hardware address the answer belongs to
    std::string ip_;
    uint64_t asked_ = 0;     // moves with every new hardware address
    uint64_t answered_ = 0;  // the value of asked_ the answer is for
    std::optional<UnifiSystemInfo> answer_;
    uint64_t changes_ = 0;
    bool running_ = false;
    bool stopping_ = false;
};

}  // namespace quillon
