// NodeRegistry: what path discovery has learned. Every distinct hop address seen on a path (a
// node, with its names and its window of echo samples), the hop sequence traced to each
// destination, and the destinations themselves.
//
// Written by traceroutes on the discovery worker, sampled by the measurement tick and read by
// the network state builder on the UI thread. One mutex guards everything; nodes never leave
// the registry by reference: their fields are copied in and out under the lock.
//
// Clear() starts a new generation. Discovery writes carry the generation they started in and
// are dropped when the registry has been cleared since, so a cycle that outlives a reset cannot
// bring back the old network's nodes.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/ipv4.h"
#include "path/sample_window.h"
#include "path/segment.h"

namespace quillon {

class Clock;

// Names of a node, copied from the traceroute's hop record.
struct NodeInfo {
    std::string hostname;
    std::string asn;
    std::string asName;
    HopLabel label = HopLabel::Transit;
};

struct PathNode {
    Ipv4Address address;
    NodeInfo info;
    SampleWindow samples;  // one echo per measurement tick: the page's figures
    RecentSamples recent;  // every echo: the verdict's evidence
};

using NodeFigures = WindowFigures;

struct DiscoveredPath {
    Ipv4Address destination;
    std::vector<Ipv4Address> hops;  // in time-to-live order; 0.0.0.0 for an unanswered hop
    uint64_t recordedAt = 0;
};

struct Destination {
    Ipv4Address address;
    std::string name;
    bool isPrimary = false;
};

class NodeRegistry {
public:
    explicit NodeRegistry(Clock& clock) : clock_(clock) {}

    uint64_t Generation() const;

    // Finds or inserts the node of an address and copies the names into it. False (and no
    // change) when the registry was cleared after `generation`.
    bool GetOrCreateNode(Ipv4Address address, const NodeInfo& info, uint64_t generation);
    // A copy of the node, or nothing.
    std::optional<PathNode> GetNode(Ipv4Address address) const;
    // The node's figures, or nothing when the address has no node.
    std::optional<NodeFigures> GetNodeFigures(Ipv4Address address) const;

    // Adds one echo sample to the node's recent samples (dated `sentAtMs` when given, else now)
    // and, for the echo of a regular tick, to its window; nothing when the address has no node.
    void RecordSample(Ipv4Address address, uint32_t rttMs, bool timedOut, bool regular = true,
                      uint64_t sentAtMs = 0);
    // Calls read(const PathNode&) under the registry's lock, without copying the node; false
    // when the address has no node. `read` must be short and must not call the registry.
    template <typename Read>
    bool ReadNode(Ipv4Address address, Read&& read) const {
        std::lock_guard lock(mutex_);
        const auto it = nodes_.find(address);
        if (it == nodes_.end()) return false;
        read(it->second);
        return true;
    }

    size_t NodeCount() const;
    // Addresses of every node (never 0.0.0.0), for the echo sweep.
    std::vector<Ipv4Address> NodeAddresses() const;

    std::vector<Destination> GetDestinations() const;
    // The destination the current path leads to: the first marked primary, else the first
    // listed; nothing when none is listed.
    std::optional<Destination> PrimaryDestination() const;
    // Replaces name and primary flag of a listed address in place, or appends.
    void AddDestination(const Destination& destination);

    // Records the hops traced to a destination and makes sure every answering hop has a node.
    // False (and no change) when the registry was cleared after `generation`.
    bool StorePath(Ipv4Address destination, const std::vector<Ipv4Address>& hops,
                   uint64_t generation);
    std::optional<DiscoveredPath> GetPath(Ipv4Address destination) const;

    // Removes every node and path; destinations stay.
    void Clear();

private:
    Clock& clock_;
    mutable std::mutex mutex_;
    uint64_t generation_ = 0;
    std::unordered_map<Ipv4Address, PathNode> nodes_;
    std::unordered_map<Ipv4Address, DiscoveredPath> paths_;
    std::vector<Destination> destinations_;
};

}  // namespace quillon
