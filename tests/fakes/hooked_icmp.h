// HookedIcmp: ICMP over another implementation (the simulated network) with two hooks for
// tests of threads: one before each blocking echo, which may hold the caller there, and one
// when a handle closes. Set the hooks while no other thread can call them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/icmp_api.h"

namespace quillon::test {

class HookedIcmp final : public IcmpApi {
public:
    explicit HookedIcmp(IcmpApi& inner) : inner_(inner) {}
    std::function<void()> beforeEcho;
    std::function<void()> onClose;

    std::unique_ptr<IcmpHandle> Open() override {
        auto inner = inner_.Open();
        if (!inner) return nullptr;
        return std::make_unique<Handle>(std::move(inner), *this);
    }
    std::string PermissionHint() const override { return inner_.PermissionHint(); }

private:
    class Handle final : public IcmpHandle {
    public:
        Handle(std::unique_ptr<IcmpHandle> inner, HookedIcmp& owner)
            : inner_(std::move(inner)), owner_(owner) {}
        ~Handle() override {
            if (owner_.onClose) owner_.onClose();
        }
        bool Echo(const EchoRequest& request, EchoReply& reply) override {
            if (owner_.beforeEcho) owner_.beforeEcho();
            return inner_->Echo(request, reply);
        }
        EchoStart StartEcho(const EchoRequest& request) override {
            return inner_->StartEcho(request);
        }
        bool PollEcho(EchoReply& reply) override { return inner_->PollEcho(reply); }

    private:
        std::unique_ptr<IcmpHandle> inner_;
        HookedIcmp& owner_;
    };

    IcmpApi& inner_;
};

}  // namespace quillon::test
