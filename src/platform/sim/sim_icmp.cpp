#include "platform/sim/sim_icmp.h"

#include <cstdint>

namespace quillon::sim {

namespace {

class SimIcmpHandle final : public IcmpHandle {
public:
    explicit SimIcmpHandle(SimWorld& world) : world_(world) {}

    bool Echo(const EchoRequest& request, EchoReply& reply) override {
        const EchoOutcome outcome =
            world_.SendEcho(request.destination, request.ttl, request.timeoutMs);
        if (!outcome.sent) return false;
        world_.clock().Sleep(outcome.answered ? outcome.reply.rttMs : request.timeoutMs);
        if (!outcome.answered) return false;
        reply = outcome.reply;
        return true;
    }

    EchoStart StartEcho(const EchoRequest& request) override {
        if (pending_) return EchoStart::Failed;
        const uint64_t sentAt = world_.clock().Tick64();
        const EchoOutcome outcome =
            world_.SendEcho(request.destination, request.ttl, request.timeoutMs);
        if (!outcome.sent) return EchoStart::Failed;
        pending_ = true;
        if (outcome.answered) {
            result_ = outcome.reply;
            completesAt_ = sentAt + outcome.reply.rttMs;
        } else {
            result_ = EchoReply{kIcmpStatusTimedOut, Ipv4Address(), 0};
            completesAt_ = sentAt + request.timeoutMs;
        }
        return EchoStart::Pending;
    }

    bool PollEcho(EchoReply& reply) override {
        if (!pending_ || world_.clock().Tick64() < completesAt_) return false;
        pending_ = false;
        reply = result_;
        return true;
    }

private:
    SimWorld& world_;
    bool pending_ = false;
    uint64_t completesAt_ = 0;  // clock tick at which the outstanding request completes
    EchoReply result_;
};

}  // namespace

std::unique_ptr<IcmpHandle> SimIcmp::Open() {
    if (!world_.IcmpAvailable()) return nullptr;
    return std::make_unique<SimIcmpHandle>(world_);
}

}  // namespace quillon::sim
