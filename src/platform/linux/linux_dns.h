// LinuxDns: the Dns port over the C library's resolver (res_nquery with a resolver state of its
// own per call, so each query sees the current /etc/resolv.conf of the process's namespace).
// The answer is read by ParseDnsResponse.
//
// Errors: when the resolver itself fails, `error` is its h_errno (1 name not found, 2 try
// again, 3 no recovery, 4 no data); a response the parser rejects gives kDnsParseMalformed.
// bypassCache has nothing to act on: this resolver keeps no cache; a caching daemon behind
// /etc/resolv.conf, if any, cannot be told to skip its cache through this interface.
// A server given in the options replaces the configured ones (tests point it at a responder on
// loopback). Blocking; any thread may call.
#pragma once

#include "platform/dns.h"

namespace quillon::lnx {

struct LinuxDnsOptions {
    Ipv4Address server;  // 0.0.0.0: the servers of /etc/resolv.conf
    uint16_t port = 53;
};

class LinuxDns final : public Dns {
public:
    LinuxDns() = default;
    explicit LinuxDns(LinuxDnsOptions options) : options_(options) {}

    DnsAnswer Query(const std::string& name, DnsType type, bool bypassCache) override;

private:
    LinuxDnsOptions options_;
};

}  // namespace quillon::lnx
