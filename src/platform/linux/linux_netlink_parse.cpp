#include "platform/linux/linux_netlink_parse.h"

#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>
#include <optional>

#include "platform/linux/unaligned_read.h"

namespace quillon::lnx {

namespace {

// The attributes after a family header of `headerSize` bytes: where the first one of `type`
// starts and its length, or nullopt. A damaged attribute ends the search.
struct Attribute {
    const uint8_t* at;
    size_t length;
};
std::optional<Attribute> FindAttribute(const uint8_t* payload, size_t size, size_t headerSize,
                                       unsigned short type) {
    const size_t start = NLMSG_ALIGN(headerSize);
    if (size <= start) return std::nullopt;
    const uint8_t* attributes = payload + start;
    const size_t total = size - start;
    size_t offset = 0;
    while (offset + sizeof(rtattr) <= total) {
        const auto attribute = Read<rtattr>(attributes + offset);
        if (attribute.rta_len < sizeof(rtattr) || attribute.rta_len > total - offset) break;
        if (attribute.rta_type == type) {
            return Attribute{attributes + offset, attribute.rta_len};
        }
        offset += RTA_ALIGN(attribute.rta_len);
    }
    return std::nullopt;
}

// The routing table of a route message: the RTA_TABLE attribute when present (tables above
// 255 only fit there), else the header's byte.
uint32_t RouteTable(const rtmsg& route, const uint8_t* payload, size_t size) {
    const auto table = FindAttribute(payload, size, sizeof(rtmsg), RTA_TABLE);
    if (table && table->length >= RTA_LENGTH(sizeof(uint32_t))) {
        return Read<uint32_t>(table->at + RTA_LENGTH(0));
    }
    return route.rtm_table;
}

std::optional<NetlinkChange> RouteChange(const nlmsghdr& header, const uint8_t* payload,
                                         size_t size) {
    if (size < sizeof(rtmsg)) return std::nullopt;
    const auto route = Read<rtmsg>(payload);
    if (route.rtm_family != AF_INET || (route.rtm_flags & RTM_F_CLONED) != 0) return std::nullopt;
    if (RouteTable(route, payload, size) != RT_TABLE_MAIN) return std::nullopt;
    if (header.nlmsg_type == RTM_DELROUTE) {
        return NetlinkChange{NetChangeKind::Route, NetChangeType::Delete};
    }
    // A replaced route is the same destination with other properties.
    const bool replaced = (header.nlmsg_flags & NLM_F_REPLACE) != 0;
    return NetlinkChange{NetChangeKind::Route,
                         replaced ? NetChangeType::Parameter : NetChangeType::Add};
}

std::optional<NetlinkChange> AddressChange(const nlmsghdr& header, const uint8_t* payload,
                                           size_t size) {
    if (size < sizeof(ifaddrmsg)) return std::nullopt;
    if (Read<ifaddrmsg>(payload).ifa_family != AF_INET) return std::nullopt;
    return NetlinkChange{NetChangeKind::Interface, header.nlmsg_type == RTM_NEWADDR
                                                       ? NetChangeType::Add
                                                       : NetChangeType::Delete};
}

std::optional<NetlinkChange> LinkChange(const nlmsghdr& header, const uint8_t* payload,
                                        size_t size) {
    if (size < sizeof(ifinfomsg)) return std::nullopt;
    if (Read<ifinfomsg>(payload).ifi_family == AF_BRIDGE) return std::nullopt;
    // Wireless events (scan results, roaming) travel as link messages too; they change
    // nothing about addresses or routes, and a background scan every few minutes must not
    // count as a network change.
    if (header.nlmsg_type == RTM_NEWLINK &&
        FindAttribute(payload, size, sizeof(ifinfomsg), IFLA_WIRELESS)) {
        return std::nullopt;
    }
    return NetlinkChange{NetChangeKind::Interface, header.nlmsg_type == RTM_NEWLINK
                                                       ? NetChangeType::Parameter
                                                       : NetChangeType::Delete};
}

std::optional<NetlinkChange> MessageChange(const nlmsghdr& header, const uint8_t* payload,
                                           size_t size) {
    switch (header.nlmsg_type) {
        case RTM_NEWROUTE:
        case RTM_DELROUTE:
            return RouteChange(header, payload, size);
        case RTM_NEWADDR:
        case RTM_DELADDR:
            return AddressChange(header, payload, size);
        case RTM_NEWLINK:
        case RTM_DELLINK:
            return LinkChange(header, payload, size);
        default:
            return std::nullopt;
    }
}

}  // namespace

std::vector<NetlinkChange> ParseNetlinkChanges(const uint8_t* data, size_t size) {
    std::vector<NetlinkChange> changes;
    size_t offset = 0;
    while (offset + sizeof(nlmsghdr) <= size) {
        const auto header = Read<nlmsghdr>(data + offset);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > size - offset) break;
        const size_t payloadAt = offset + NLMSG_HDRLEN;
        const size_t payloadSize = header.nlmsg_len - NLMSG_HDRLEN;
        if (const auto change = MessageChange(header, data + payloadAt, payloadSize)) {
            changes.push_back(*change);
        }
        if (header.nlmsg_type == NLMSG_DONE) break;
        offset += NLMSG_ALIGN(header.nlmsg_len);
    }
    return changes;
}

}  // namespace quillon::lnx
