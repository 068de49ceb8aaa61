#include "path/node_registry.h"

#include "base/log.h"
#include "platform/clock.h"

namespace quillon {

uint64_t NodeRegistry::Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

bool NodeRegistry::GetOrCreateNode(Ipv4Address address, const NodeInfo& info, uint64_t generation) {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return false;
    PathNode& node = nodes_[address];
    node.address = address;
    node.info = info;
    return true;
}

std::optional<PathNode> NodeRegistry::GetNode(Ipv4Address address) const {
    std::lock_guard lock(mutex_);
    const auto it = nodes_.find(address);
    if (it == nodes_.end()) return std::nullopt;
    return it->second;
}

std::optional<NodeFigures> NodeRegistry::GetNodeFigures(Ipv4Address address) const {
    std::lock_guard lock(mutex_);
    const auto it = nodes_.find(address);
    if (it == nodes_.end()) return std::nullopt;
    return ComputeFigures(it->second.samples);
}

void NodeRegistry::RecordSample(Ipv4Address address, uint32_t rttMs, bool timedOut, bool regular,
                                uint64_t sentAtMs) {
    const uint64_t now = clock_.Tick64();
    std::lock_guard lock(mutex_);
    const auto it = nodes_.find(address);
    if (it == nodes_.end()) return;
    if (regular) quillon::RecordSample(it->second.samples, now, rttMs, timedOut);
    RecordRecent(it->second.recent, sentAtMs != 0 ? sentAtMs : now, rttMs, timedOut);
}

size_t NodeRegistry::NodeCount() const {
    std::lock_guard lock(mutex_);
    return nodes_.size();
}

std::vector<Ipv4Address> NodeRegistry::NodeAddresses() const {
    std::lock_guard lock(mutex_);
    std::vector<Ipv4Address> addresses;
    addresses.reserve(nodes_.size());
    for (const auto& [address, node] : nodes_) {
        if (!address.IsZero()) addresses.push_back(address);
    }
    return addresses;
}

std::vector<Destination> NodeRegistry::GetDestinations() const {
    std::lock_guard lock(mutex_);
    return destinations_;
}

std::optional<Destination> NodeRegistry::PrimaryDestination() const {
    std::lock_guard lock(mutex_);
    for (const Destination& d : destinations_) {
        if (d.isPrimary) return d;
    }
    if (destinations_.empty()) return std::nullopt;
    return destinations_.front();
}

void NodeRegistry::AddDestination(const Destination& destination) {
    std::lock_guard lock(mutex_);
    for (Destination& listed : destinations_) {
        if (listed.address == destination.address) {
            listed.name = destination.name;
            listed.isPrimary = destination.isPrimary;
            return;
        }
    }
    destinations_.push_back(destination);
    LogWrite(Info, "NodeRegistry: Added destination %s (0x%08X)", destination.name.c_str(),
             destination.address.NetworkOrder());
}

bool NodeRegistry::StorePath(Ipv4Address destination, const std::vector<Ipv4Address>& hops,
                             uint64_t generation) {
    const uint64_t now = clock_.Tick64();
    std::lock_guard lock(mutex_);
    if (generation != generation_) return false;
    DiscoveredPath& path = paths_[destination];
    path.destination = destination;
    path.hops = hops;
    path.recordedAt = now;
    for (const Ipv4Address address : hops) {
        if (!address.IsZero() && !nodes_.contains(address)) nodes_[address].address = address;
    }
    return true;
}

std::optional<DiscoveredPath> NodeRegistry::GetPath(Ipv4Address destination) const {
    std::lock_guard lock(mutex_);
    const auto it = paths_.find(destination);
    if (it == paths_.end()) return std::nullopt;
    return it->second;
}

void NodeRegistry::Clear() {
    std::lock_guard lock(mutex_);
    LogWrite(Info,
             "NodeRegistry: Clearing all nodes and paths (%zu nodes, %zu paths, keeping %zu "
             "destinations)",
             nodes_.size(), paths_.size(), destinations_.size());
    nodes_.clear();
    paths_.clear();
    ++generation_;
}

}  // namespace quillon
