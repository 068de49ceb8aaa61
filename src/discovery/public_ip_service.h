// PublicIpService: learns the computer's public IPv4 address with one STUN Binding exchange,
// then names it (reverse DNS, AS number and holder) through the name look-ups. The network
// state builder asks for the record on every build; the answer is what is known at that
// moment, never a wait: the exchange and the look-ups run on a worker that the call starts
// when no address is known for the current network and no exchange is under way.
//
// An address belongs to the network it was learned on. The caller names that network with a
// number that changes whenever it starts over (path discovery's reset count, which moves when
// the home gateway changes): from the first call that sees another number the old address is
// no longer returned, and it is learned again. An exchange that fails (no answer: UDP blocked,
// the server unreachable) is retried on a later call, no sooner than kRetryMs after it began.
//
// Threads: GetPublicIpInfo from one thread (the UI thread), workers alongside; one mutex
// guards the record. Stop, at shutdown, waits a bounded time for a worker; the destructor
// waits for it without bound.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>

#include "discovery/public_ip.h"
#include "discovery/stun.h"

namespace quillon {

class Clock;
class NameLookups;
class Sockets;
class Threads;

struct PublicIpContext {
    Sockets& sockets;
    Threads& threads;
    Clock& clock;
    NameLookups& lookups;
    StunServer server;
    // The current network's number; an address learned under another one is stale.
    std::function<uint64_t()> networkGeneration;
};

class PublicIpService {
public:
    explicit PublicIpService(PublicIpContext context);
    ~PublicIpService();  // waits for a worker still running
    PublicIpService(const PublicIpService&) = delete;
    PublicIpService& operator=(const PublicIpService&) = delete;

    // The record as known now (valid false while no address is known for this network);
    // starts learning it when it is due. Never blocks on the network.
    PublicIpInfo GetPublicIpInfo();

    // Counts changes of what GetPublicIpInfo returns, so that a caller can tell news apart.
    uint64_t Changes();

    // At shutdown: no exchange starts any more; waits at most `bound` for a running one.
    // False when it is still running (the service must then not be destroyed).
    bool Stop(std::chrono::milliseconds bound);

    // One exchange with the server, blocking for up to kReceiveTimeoutMs after the name is
    // resolved: the record with ipAddress, ip, port and valid, or an empty one.
    PublicIpInfo QueryStun();

    static constexpr uint32_t kReceiveTimeoutMs = 2000;
    static constexpr uint64_t kRetryMs = 15000;

private:
    void Learn(uint64_t generation);

    PublicIpContext context_;
    std::mt19937 random_;  // transaction ids; workers only, one at a time

    std::mutex mutex_;
    std::condition_variable idle_;
    PublicIpInfo info_;        // valid only for learnedFor_
    uint64_t learnedFor_ = 0;  // the network generation info_ belongs to
    bool running_ = false;     // a worker is learning
    bool stopping_ = false;
    uint64_t lastAttempt_ = 0;  // clock tick when the last exchange began; 0: never
    uint64_t attemptFor_ = 0;   // ... and for which network
    uint64_t changes_ = 0;
};

}  // namespace quillon
