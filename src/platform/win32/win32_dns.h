// Win32Dns: the Dns port over DnsQuery_W, the system resolver with its cache (skipped when the
// caller asks) and configured servers, or the one server the options name (tests use a server
// on loopback; the system resolver has no port setting, so it must listen on 53).
// Stateless; any thread may call; blocks for as long as the resolver takes.
#pragma once

#include "platform/dns.h"

namespace quillon::win32 {

struct Win32DnsOptions {
    Ipv4Address server;  // 0.0.0.0: the system's servers
};

class Win32Dns final : public Dns {
public:
    Win32Dns() = default;
    explicit Win32Dns(Win32DnsOptions options) : options_(options) {}

    DnsAnswer Query(const std::string& name, DnsType type, bool bypassCache) override;

private:
    Win32DnsOptions options_;
};

}  // namespace quillon::win32
