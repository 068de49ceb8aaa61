// Reading of rtnetlink notifications for the Linux network-change adapter, kept apart from the
// socket so that unit tests and the fuzzer reach it: the bytes of one received datagram in, the
// changes it announces out. Pure functions; any thread.
//
// What counts, in the vocabulary of the NetEvents port:
//   Route:     IPv4 routes of the main table. RTM_NEWROUTE is an add (a parameter change when
//              it replaced an existing route), RTM_DELROUTE a delete. Routes of other tables
//              (local, broadcast, policy tables), cached clones and other families say nothing
//              about where our traffic goes and are skipped.
//   Interface: IPv4 addresses (RTM_NEWADDR add, RTM_DELADDR delete) and links (RTM_NEWLINK a
//              parameter change: state, flags, name; RTM_DELLINK a delete). Link messages of the
//              bridge family describe bridge ports, not interfaces, and are skipped.
// Control messages (NLMSG_DONE, NLMSG_ERROR, NLMSG_NOOP), unknown types and messages too short
// for their family header are skipped; a header that runs past the end stops the reading, so a
// truncated datagram yields the changes before the damage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/net_events.h"

namespace quillon::lnx {

struct NetlinkChange {
    NetChangeKind kind;
    NetChangeType type;

    bool operator==(const NetlinkChange&) const = default;
};

// Every change announced in one datagram, in message order.
std::vector<NetlinkChange> ParseNetlinkChanges(const uint8_t* data, size_t size);

}  // namespace quillon::lnx
