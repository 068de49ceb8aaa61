// Reading a value out of received bytes: netlink and packet buffers carry no alignment promise
// (the fuzzer's certainly do not), so every value is copied out rather than read in place.
#pragma once

#include <cstdint>
#include <cstring>

namespace quillon::lnx {

template <class T>
T Read(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

}  // namespace quillon::lnx
