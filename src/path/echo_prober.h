// EchoProber: ICMP echo for the path core. Two services:
//  - ProbeHop, a single blocking echo with a chosen time-to-live, for traceroutes and the
//    re-probing of silent hops (discovery worker);
//  - the echo poller: one outstanding echo per registry node, sent by SendEchoSweep and
//    harvested without waiting by CollectEchoReplies (UI thread, each measurement tick).
// The target table has one mutex held across each operation, so the discovery worker's sweep
// and resets never race the UI thread's. The shared handle is reference counted: a probe in
// flight keeps it alive even if the window closes it meanwhile.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "path/hop_record.h"

namespace quillon {

class Clock;
class IcmpApi;
class IcmpHandle;
class NodeRegistry;

// Records one finished echo of a node: (address, rttMs, timedOut, sentAtMs). The send time is
// when the echo's fate was sealed: the evidence dates a loss by it, not by its collection.
using EchoRecorder = std::function<void(Ipv4Address, uint32_t, bool, uint64_t)>;

class EchoProber {
public:
    // Without a clock, echoes are recorded with a send time of 0.
    EchoProber(IcmpApi& icmp, NodeRegistry& registry, Clock* clock = nullptr);
    ~EchoProber();

    // The handle the blocking echo uses; opened at window creation, closed at destruction.
    bool OpenSharedHandle();
    void CloseSharedHandle();
    bool SharedHandleOpen() const;

    // One echo to `destination` with time-to-live `ttl`, blocking up to timeoutMs. An echo
    // reply or a time-exceeded answer fills in the address and round-trip time; anything else
    // (or no shared handle) is a time-out.
    ProbeResult ProbeHop(Ipv4Address destination, int32_t ttl, uint32_t timeoutMs);

    // Fills the target table from the registry if needed, then starts an echo for every
    // target without one outstanding.
    void SendEchoSweep();
    // Hands every echo that completed since the last call to `record`, without waiting.
    void CollectEchoReplies(const EchoRecorder& record);
    // Closes every target and forgets them.
    void CloseEchoTargets();
    // Makes the next sweep take in nodes added to the registry since the table was filled.
    void InvalidateTargets();

    size_t TargetCount() const;

private:
    struct EchoTarget {
        std::unique_ptr<IcmpHandle> handle;  // null when it could not be opened
        bool pending = false;
        uint64_t sentAtMs = 0;
    };
    // Spreads addresses with FNV-1a over their four bytes, lowest first.
    struct AddressHash {
        size_t operator()(Ipv4Address address) const;
    };

    IcmpApi& icmp_;
    NodeRegistry& registry_;
    Clock* clock_;

    mutable std::mutex sharedMutex_;
    std::shared_ptr<IcmpHandle> shared_;

    mutable std::mutex targetsMutex_;
    std::unordered_map<Ipv4Address, EchoTarget, AddressHash> targets_;
    bool targetsInitialised_ = false;
};

}  // namespace quillon
