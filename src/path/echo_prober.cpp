#include "path/echo_prober.h"

#include "path/node_registry.h"
#include "platform/clock.h"
#include "platform/icmp_api.h"

namespace quillon {

namespace {

// Every echo carries the same 7 bytes: the program's tag and a terminating zero.
constexpr uint8_t kEchoPayload[] = {'Q', 'l', 'n', 'W', 'i', 'n', 0};
constexpr uint32_t kSweepTimeoutMs = 1000;

EchoRequest MakeRequest(Ipv4Address destination, uint8_t ttl, uint32_t timeoutMs) {
    EchoRequest request;
    request.destination = destination;
    request.ttl = ttl;
    request.payload = kEchoPayload;
    request.payloadSize = sizeof kEchoPayload;
    request.timeoutMs = timeoutMs;
    return request;
}

}  // namespace

size_t EchoProber::AddressHash::operator()(Ipv4Address address) const {
    uint32_t hash = 2166136261u;
    for (int i = 0; i < 4; ++i) {
        hash ^= address.Octet(i);
        hash *= 16777619u;
    }
    return hash;
}

EchoProber::EchoProber(IcmpApi& icmp, NodeRegistry& registry, Clock* clock)
    : icmp_(icmp), registry_(registry), clock_(clock) {}

EchoProber::~EchoProber() = default;

bool EchoProber::OpenSharedHandle() {
    std::lock_guard lock(sharedMutex_);
    if (!shared_) shared_ = icmp_.Open();
    return shared_ != nullptr;
}

void EchoProber::CloseSharedHandle() {
    std::lock_guard lock(sharedMutex_);
    shared_.reset();
}

bool EchoProber::SharedHandleOpen() const {
    std::lock_guard lock(sharedMutex_);
    return shared_ != nullptr;
}

ProbeResult EchoProber::ProbeHop(Ipv4Address destination, int32_t ttl, uint32_t timeoutMs) {
    ProbeResult result;
    result.ttl = ttl;
    std::shared_ptr<IcmpHandle> handle;
    {
        std::lock_guard lock(sharedMutex_);
        handle = shared_;
    }
    if (!handle) return result;

    EchoReply reply;
    const auto request = MakeRequest(destination, static_cast<uint8_t>(ttl & 0xFF), timeoutMs);
    if (handle->Echo(request, reply) && (reply.status == kIcmpStatusSuccess ||
                                         reply.status == kIcmpStatusTtlExpiredTransit)) {
        result.address = reply.address;
        result.rttMs = reply.rttMs;
        result.timedOut = false;
    }
    return result;
}

void EchoProber::SendEchoSweep() {
    std::lock_guard lock(targetsMutex_);
    if (!targetsInitialised_) {
        for (const Ipv4Address address : registry_.NodeAddresses()) {
            if (!targets_.contains(address)) targets_[address].handle = icmp_.Open();
        }
        targetsInitialised_ = true;
    }
    const uint64_t now = clock_ != nullptr ? clock_->Tick64() : 0;
    for (auto& [address, target] : targets_) {
        if (target.pending || !target.handle) continue;
        target.sentAtMs = now;
        const EchoStart start = target.handle->StartEcho(MakeRequest(address, 0, kSweepTimeoutMs));
        // A failed send stays idle and is tried again by the next sweep.
        target.pending = start != EchoStart::Failed;
    }
}

void EchoProber::CollectEchoReplies(const EchoRecorder& record) {
    std::lock_guard lock(targetsMutex_);
    for (auto& [address, target] : targets_) {
        if (!target.pending) continue;
        if (!target.handle) {
            target.pending = false;
            continue;
        }
        EchoReply reply;
        if (!target.handle->PollEcho(reply)) continue;  // still out; looked at next tick
        target.pending = false;
        if (reply.status == kIcmpStatusSuccess) {
            record(address, reply.rttMs, false, target.sentAtMs);
        } else {
            record(address, 0, true, target.sentAtMs);
        }
    }
}

void EchoProber::CloseEchoTargets() {
    std::lock_guard lock(targetsMutex_);
    targets_.clear();
    targetsInitialised_ = false;
}

void EchoProber::InvalidateTargets() {
    std::lock_guard lock(targetsMutex_);
    targetsInitialised_ = false;
}

size_t EchoProber::TargetCount() const {
    std::lock_guard lock(targetsMutex_);
    return targets_.size();
}

}  // namespace quillon
