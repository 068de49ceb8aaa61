// Fuzzes the reading of captured LLDP frames. Beyond not crashing or reading past the frame:
// a frame is read only with the LLDP EtherType; bytes after an End TLV change nothing; a frame
// without one is kept only when it names a chassis or a system; MAC and address texts have their
// fixed shapes; every text is valid UTF-8.
#include <cstdint>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "discovery/lldp_frame.h"
#include "fuzz_check.h"

namespace {

bool SameNeighbor(const quillon::LldpNeighbor& a, const quillon::LldpNeighbor& b) {
    return a.chassisId == b.chassisId && a.portId == b.portId && a.systemName == b.systemName &&
           a.portDescription == b.portDescription && a.systemDescription == b.systemDescription &&
           a.managementAddress == b.managementAddress && a.ttl == b.ttl &&
           a.portVlanId == b.portVlanId;
}

bool AddressShaped(const std::string& text) {
    if (text.empty()) return true;
    int dots = 0;
    for (const char c : text) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dots == 3 && text.size() <= 15;
}

// Walks the TLV headers alone: true when an End TLV comes before the bytes run out.
bool HasEnd(const std::vector<uint8_t>& f) {
    for (size_t at = 14; at + 2 <= f.size();) {
        const size_t length = static_cast<size_t>(f[at] & 1) << 8 | f[at + 1];
        if (at + 2 + length > f.size()) return false;
        if (f[at] >> 1 == 0) return true;
        at += 2 + length;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Heap copy of exactly `size` bytes, so that AddressSanitizer sees any read past it.
    const std::vector<uint8_t> frame(data, data + size);
    const auto neighbor = quillon::ParseLldpFrame(frame.data(), frame.size());
    if (!neighbor) return 0;
    Check(size >= quillon::kLldpMinFrameBytes && data[12] == 0x88 && data[13] == 0xCC);
    for (const std::string* text : {&neighbor->chassisId, &neighbor->portId, &neighbor->systemName,
                                    &neighbor->portDescription, &neighbor->systemDescription}) {
        Check(quillon::IsValidUtf8(*text));
    }
    Check(AddressShaped(neighbor->managementAddress));

    std::vector<uint8_t> longer = frame;
    longer.insert(longer.end(), {0x0a, 0x03, 'x', 'y', 'z', 0x00, 0x00});
    if (HasEnd(frame)) {
        const auto again = quillon::ParseLldpFrame(longer);
        Check(again.has_value() && SameNeighbor(*neighbor, *again));
    } else {
        Check(!neighbor->chassisId.empty() || !neighbor->systemName.empty());
    }
    return 0;
}
