#include "discovery/public_ip_service.h"

#include "base/ipv4.h"
#include "base/log.h"
#include "discovery/name_lookups.h"
#include "platform/clock.h"
#include "platform/sockets.h"
#include "platform/threads.h"

namespace quillon {

PublicIpService::PublicIpService(PublicIpContext context)
    : context_(std::move(context)), random_(std::random_device{}()) {}

PublicIpService::~PublicIpService() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    idle_.wait(lock, [this] { return !running_; });
}

uint64_t PublicIpService::Changes() {
    std::lock_guard lock(mutex_);
    return changes_;
}

bool PublicIpService::Stop(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    // Real time: this bounds how long a person waits for the process to end.
    return idle_.wait_for(lock, bound, [this] { return !running_; });
}

PublicIpInfo PublicIpService::GetPublicIpInfo() {
    const uint64_t generation = context_.networkGeneration ? context_.networkGeneration() : 0;
    const uint64_t now = context_.clock.Tick64();
    {
        std::lock_guard lock(mutex_);
        if (info_.valid && learnedFor_ != generation) {
            // Learned on the network we left: not shown again, learned anew below.
            LogWrite(Info, "Public address %s belongs to the previous network - learning again",
                     info_.ipAddress.c_str());
            info_ = PublicIpInfo{};
            ++changes_;
        }
        const bool retryDue =
            attemptFor_ != generation || lastAttempt_ == 0 || now - lastAttempt_ >= kRetryMs;
        if (info_.valid || running_ || stopping_ || !retryDue) return info_;
        running_ = true;
        lastAttempt_ = now == 0 ? 1 : now;
        attemptFor_ = generation;
    }
    // Unlocked: a worker that runs inline (tests) takes the lock itself.
    if (!context_.threads.StartDetached([this, generation] { Learn(generation); })) {
        std::lock_guard lock(mutex_);
        running_ = false;
        idle_.notify_all();
        LogWrite(Error, "Failed to start public address worker");
    }
    std::lock_guard lock(mutex_);
    return info_;
}

void PublicIpService::Learn(uint64_t generation) {
    const PublicIpInfo learned = QueryStun();
    bool enrich = false;
    {
        std::lock_guard lock(mutex_);
        if (learned.valid && !stopping_) {
            info_ = learned;
            learnedFor_ = generation;
            ++changes_;
            enrich = true;
            LogWrite(Info, "Public address learned: %s (port %u)", learned.ipAddress.c_str(),
                     unsigned{learned.port});
        }
    }
    if (enrich) {
        // The names come a moment later; the address is shown meanwhile.
        const std::string hostname = context_.lookups.GetHostnameCached(learned.ip);
        const AsnInfo asn = context_.lookups.LookupAsn(learned.ip);
        std::lock_guard lock(mutex_);
        if (info_.valid && learnedFor_ == generation && info_.ip == learned.ip) {
            info_.hostname = hostname;
            if (asn.valid) {
                info_.asn = asn.asn;
                info_.asName = asn.asName;
            }
            ++changes_;
        }
    }
    std::lock_guard lock(mutex_);
    running_ = false;
    idle_.notify_all();
}

PublicIpInfo PublicIpService::QueryStun() {
    PublicIpInfo info;
    const ResolveResult resolved = context_.sockets.ResolveIpv4(context_.server.host);
    if (!resolved.ok || resolved.addresses.empty()) return info;

    StunTransactionId id;
    for (uint8_t& byte : id) byte = static_cast<uint8_t>(random_() % 256);
    const UdpExchangeResult exchange =
        context_.sockets.UdpExchange(resolved.addresses.front(), context_.server.port,
                                     BuildBindingRequest(id), kReceiveTimeoutMs);
    if (!exchange.received) return info;
    const StunAnswer answer = ParseBindingAnswer(exchange.answer, id);
    if (answer.status != StunStatus::Mapped || answer.address.IsZero()) return info;
    info.ipAddress = answer.address.Text();
    info.ip = answer.address;
    info.port = answer.port;
    info.valid = true;
    return info;
}

}  // namespace quillon
