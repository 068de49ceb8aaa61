#include "path/current_path.h"

namespace quillon {

std::shared_ptr<const HopList> CurrentPath::Snapshot() const {
    std::lock_guard lock(mutex_);
    return hops_;
}

uint64_t CurrentPath::Generation() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

bool CurrentPath::Publish(HopList hops, uint64_t generation) {
    auto snapshot = std::make_shared<const HopList>(std::move(hops));
    std::lock_guard lock(mutex_);
    if (generation != generation_) return false;
    hops_ = std::move(snapshot);
    return true;
}

void CurrentPath::Clear() {
    auto empty = std::make_shared<const HopList>();
    std::lock_guard lock(mutex_);
    hops_ = std::move(empty);
    ++generation_;
}

}  // namespace quillon
