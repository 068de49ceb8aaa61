// CurrentPath: the hops of the latest traceroute, published as an immutable snapshot. The
// traceroute on the discovery worker replaces it hop by hop; the UI thread reads it for the
// diagnosis and the network state message without ever seeing a half-written path.
//
// Clear() starts a new generation; a publish carrying an older generation is dropped, so a
// traceroute that outlives a reset cannot put the old path back.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "path/hop_record.h"

namespace quillon {

using HopList = std::vector<HopRecord>;

class CurrentPath {
public:
    CurrentPath() : hops_(std::make_shared<const HopList>()) {}

    // The path as last published; never null, possibly empty.
    std::shared_ptr<const HopList> Snapshot() const;
    uint64_t Generation() const;

    // Replaces the path. False (and no change) when cleared after `generation`.
    bool Publish(HopList hops, uint64_t generation);
    // Empties the path and starts a new generation.
    void Clear();

private:
    mutable std::mutex mutex_;
    std::shared_ptr<const HopList> hops_;
    uint64_t generation_ = 0;
};

}  // namespace quillon
