// Fuzzes the reader of rtnetlink notification datagrams of the Linux network-change adapter.
// Beyond not crashing: every change needs a whole message of its own, none is an initial
// notification, and reading a cut-off datagram yields a leading part of what the whole yields.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "platform/linux/linux_netlink_parse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quillon::lnx;
    const std::vector<NetlinkChange> whole = ParseNetlinkChanges(data, size);
    constexpr size_t kSmallestMessage = 16 + 8;  // header and the smallest family header
    Check(whole.size() <= size / kSmallestMessage);
    for (const NetlinkChange& change : whole) {
        Check(change.kind == quillon::NetChangeKind::Route ||
              change.kind == quillon::NetChangeKind::Interface);
        Check(change.type == quillon::NetChangeType::Parameter ||
              change.type == quillon::NetChangeType::Add ||
              change.type == quillon::NetChangeType::Delete);
    }
    const size_t cut = size > 0 ? data[0] * size / 256 : 0;
    const std::vector<NetlinkChange> part = ParseNetlinkChanges(data, cut);
    Check(part.size() <= whole.size());
    for (size_t i = 0; i < part.size(); ++i) Check(part[i] == whole[i]);
    return 0;
}
