// IcmpApi: ICMP echo over IPv4, the measuring instrument of traceroutes and hop monitoring.
// Results keep the status numbers the core reasons with: 0 for an echo reply, 11013 for a
// time-exceeded answer from a router on the way; anything else counts as lost.
// A handle may be used from several threads for blocking echoes; the overlapped calls of one
// handle are made by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/ipv4.h"

namespace quillon {

constexpr uint32_t kIcmpStatusSuccess = 0;
constexpr uint32_t kIcmpStatusTimedOut = 11010;
constexpr uint32_t kIcmpStatusTtlExpiredTransit = 11013;

struct EchoRequest {
    Ipv4Address destination;
    uint8_t ttl = 0;  // 0: the system's default time-to-live
    const uint8_t* payload = nullptr;
    size_t payloadSize = 0;
    uint32_t timeoutMs = 1000;
};

struct EchoReply {
    uint32_t status = kIcmpStatusTimedOut;
    Ipv4Address address;  // who answered: the destination or a router on the way
    uint32_t rttMs = 0;   // whole milliseconds
};

enum class EchoStart {
    Pending,    // sent; poll for the outcome
    Completed,  // the outcome is already known; the next poll returns it
    Failed,     // nothing was sent; try again later
};

class IcmpHandle {
public:
    virtual ~IcmpHandle() = default;  // closes the handle and abandons an outstanding request

    // Blocking echo. True when an answer arrived within the time-out (reply filled in with its
    // status, which may be an error status); false when nothing came back.
    virtual bool Echo(const EchoRequest& request, EchoReply& reply) = 0;

    // Overlapped echo: at most one request outstanding per handle.
    virtual EchoStart StartEcho(const EchoRequest& request) = 0;
    // Checks without waiting whether the outstanding request has completed. True once it has
    // (an unanswered request completes with kIcmpStatusTimedOut after its time-out).
    virtual bool PollEcho(EchoReply& reply) = 0;
};

class IcmpApi {
public:
    virtual ~IcmpApi() = default;
    // Opens a new handle; null when ICMP is not available to this process.
    virtual std::unique_ptr<IcmpHandle> Open() = 0;
    // When Open() fails: how a person allows this program to send ICMP on this system, in
    // plain words with the commands to run; empty when there is nothing they can do.
    virtual std::string PermissionHint() const { return {}; }
};

}  // namespace quillon
