#include "platform/linux/linux_netlink_parse.h"

#include <gtest/gtest.h>
#include <linux/if_addr.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <cstring>
#include <vector>

namespace quillon::lnx {
namespace {

using Bytes = std::vector<uint8_t>;

const NetlinkChange kRouteAdd{NetChangeKind::Route, NetChangeType::Add};
const NetlinkChange kRouteDelete{NetChangeKind::Route, NetChangeType::Delete};
const NetlinkChange kRouteParameter{NetChangeKind::Route, NetChangeType::Parameter};
const NetlinkChange kInterfaceAdd{NetChangeKind::Interface, NetChangeType::Add};
const NetlinkChange kInterfaceDelete{NetChangeKind::Interface, NetChangeType::Delete};
const NetlinkChange kInterfaceParameter{NetChangeKind::Interface, NetChangeType::Parameter};

// (resize and copy: GCC 12 at -O3 misreads an insert into an empty vector as an overflow)
template <class T>
void Append(Bytes& out, const T& value) {
    const size_t at = out.size();
    out.resize(at + sizeof(T));
    std::memcpy(out.data() + at, &value, sizeof(T));
}

void Pad(Bytes& out) {
    out.resize(NLMSG_ALIGN(out.size()), 0);
}

// One attribute with a 32-bit value, padded.
Bytes U32Attribute(uint16_t type, uint32_t value) {
    Bytes out;
    Append(out, rtattr{static_cast<unsigned short>(RTA_LENGTH(4)), type});
    Append(out, value);
    return out;
}

// Appends one netlink message (header, family header, attributes) to a datagram, padded to
// the alignment the kernel uses between messages.
template <class Family>
void AddMessage(Bytes& datagram, uint16_t type, uint16_t flags, const Family& family,
                const Bytes& attributes = {}) {
    Bytes body;
    Append(body, family);
    Pad(body);
    body.insert(body.end(), attributes.begin(), attributes.end());
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(NLMSG_HDRLEN + body.size());
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    Pad(datagram);
    Append(datagram, header);
    datagram.insert(datagram.end(), body.begin(), body.end());
}

rtmsg Route(uint8_t family = AF_INET, uint8_t table = RT_TABLE_MAIN, unsigned flags = 0) {
    rtmsg route{};
    route.rtm_family = family;
    route.rtm_dst_len = 24;
    route.rtm_table = table;
    route.rtm_protocol = RTPROT_BOOT;
    route.rtm_type = RTN_UNICAST;
    route.rtm_flags = flags;
    return route;
}

ifaddrmsg Address(uint8_t family = AF_INET) {
    ifaddrmsg address{};
    address.ifa_family = family;
    address.ifa_prefixlen = 24;
    address.ifa_index = 2;
    return address;
}

ifinfomsg Link(uint8_t family = AF_UNSPEC) {
    ifinfomsg link{};
    link.ifi_family = family;
    link.ifi_index = 2;
    return link;
}

std::vector<NetlinkChange> Parse(const Bytes& datagram) {
    return ParseNetlinkChanges(datagram.data(), datagram.size());
}

TEST(LinuxNetlinkParse, MainTableIpv4RoutesOnly) {
    Bytes added, removed, replaced;
    AddMessage(added, RTM_NEWROUTE, NLM_F_CREATE | NLM_F_EXCL, Route());
    AddMessage(removed, RTM_DELROUTE, 0, Route());
    AddMessage(replaced, RTM_NEWROUTE, NLM_F_REPLACE, Route());
    EXPECT_EQ(Parse(added), std::vector{kRouteAdd});
    EXPECT_EQ(Parse(removed), std::vector{kRouteDelete});
    EXPECT_EQ(Parse(replaced), std::vector{kRouteParameter});

    // Skipped: the local table (own addresses, broadcasts), IPv6, cached clones, and a policy
    // table that only the table attribute names.
    Bytes skipped;
    AddMessage(skipped, RTM_NEWROUTE, 0, Route(AF_INET, RT_TABLE_LOCAL));
    AddMessage(skipped, RTM_DELROUTE, 0, Route(AF_INET6));
    AddMessage(skipped, RTM_NEWROUTE, 0, Route(AF_INET, RT_TABLE_MAIN, RTM_F_CLONED));
    AddMessage(skipped, RTM_NEWROUTE, 0, Route(AF_INET, RT_TABLE_COMPAT),
               U32Attribute(RTA_TABLE, 1000));
    AddMessage(skipped, RTM_NEWROUTE, 0, Route(), U32Attribute(RTA_TABLE, 100));
    EXPECT_TRUE(Parse(skipped).empty());

    // The attribute wins over the header byte, wherever it sits among the others.
    Bytes attributes = U32Attribute(RTA_PRIORITY, 5);
    const Bytes table = U32Attribute(RTA_TABLE, RT_TABLE_MAIN);
    attributes.insert(attributes.end(), table.begin(), table.end());
    Bytes viaAttribute;
    AddMessage(viaAttribute, RTM_DELROUTE, 0, Route(AF_INET, RT_TABLE_COMPAT), attributes);
    EXPECT_EQ(Parse(viaAttribute), std::vector{kRouteDelete});
}

TEST(LinuxNetlinkParse, ReadsEveryMessageOfAMultipartDatagramUpToDone) {
    Bytes datagram;
    // An attribute of odd size leaves the message unaligned: the next starts after padding.
    Bytes odd;
    Append(odd, rtattr{static_cast<unsigned short>(RTA_LENGTH(3)), IFA_LABEL});
    odd.insert(odd.end(), {'q', 'l', 0});
    AddMessage(datagram, RTM_NEWADDR, NLM_F_MULTI, Address(), odd);
    ASSERT_NE(datagram.size() % NLMSG_ALIGNTO, 0u);
    AddMessage(datagram, RTM_DELADDR, NLM_F_MULTI, Address());
    AddMessage(datagram, RTM_NEWADDR, NLM_F_MULTI, Address(AF_INET6));  // skipped
    AddMessage(datagram, RTM_NEWLINK, NLM_F_MULTI, Link());
    AddMessage(datagram, RTM_NEWLINK, NLM_F_MULTI, Link(AF_BRIDGE));  // a bridge port: skipped
    Bytes wireless = U32Attribute(IFLA_MTU, 1500);
    Bytes event;
    Append(event, rtattr{static_cast<unsigned short>(RTA_LENGTH(8)), IFLA_WIRELESS});
    event.resize(event.size() + 8, 0);
    wireless.insert(wireless.end(), event.begin(), event.end());
    AddMessage(datagram, RTM_NEWLINK, 0, Link(), wireless);  // a WiFi scan result: skipped
    AddMessage(datagram, RTM_DELLINK, NLM_F_MULTI, Link());
    AddMessage(datagram, RTM_NEWNEIGH, NLM_F_MULTI, Link());  // not ours: skipped
    nlmsgerr failure{};
    failure.error = -EEXIST;
    AddMessage(datagram, NLMSG_ERROR, 0, failure);
    AddMessage(datagram, NLMSG_NOOP, 0, uint32_t{0});
    AddMessage(datagram, RTM_NEWROUTE, NLM_F_MULTI, Route());
    AddMessage(datagram, NLMSG_DONE, NLM_F_MULTI, uint32_t{0});
    AddMessage(datagram, RTM_DELROUTE, 0, Route());  // after the end: not read
    EXPECT_EQ(Parse(datagram), (std::vector{kInterfaceAdd, kInterfaceDelete, kInterfaceParameter,
                                            kInterfaceDelete, kRouteAdd}));
}

TEST(LinuxNetlinkParse, DamagedDatagramsYieldWhatCameBeforeTheDamage) {
    EXPECT_TRUE(ParseNetlinkChanges(nullptr, 0).empty());

    Bytes two;
    AddMessage(two, RTM_NEWROUTE, 0, Route());
    const size_t firstEnd = two.size();
    AddMessage(two, RTM_DELROUTE, 0, Route());
    for (size_t cut = 0; cut < two.size(); ++cut) {
        const auto changes = ParseNetlinkChanges(two.data(), cut);
        EXPECT_EQ(changes.size(), cut >= firstEnd ? 1u : 0u) << "cut at " << cut;
    }
    EXPECT_EQ(Parse(two), (std::vector{kRouteAdd, kRouteDelete}));

    // A length claiming more than the datagram holds, or less than a header, stops the reading.
    Bytes lying = two;
    reinterpret_cast<nlmsghdr*>(lying.data() + firstEnd)->nlmsg_len = 4096;
    EXPECT_EQ(Parse(lying), std::vector{kRouteAdd});
    reinterpret_cast<nlmsghdr*>(lying.data() + firstEnd)->nlmsg_len = 8;
    EXPECT_EQ(Parse(lying), std::vector{kRouteAdd});

    // A message too short for its family header is skipped; the next one still counts.
    Bytes shortBody;
    AddMessage(shortBody, RTM_NEWROUTE, 0, uint16_t{AF_INET});
    AddMessage(shortBody, RTM_NEWADDR, 0, Address());
    EXPECT_EQ(Parse(shortBody), std::vector{kInterfaceAdd});

    // A table attribute running past its message is ignored, leaving the header's table.
    Bytes badAttribute;
    Bytes attribute = U32Attribute(RTA_TABLE, 100);
    reinterpret_cast<rtattr*>(attribute.data())->rta_len = 200;
    AddMessage(badAttribute, RTM_NEWROUTE, 0, Route(), attribute);
    EXPECT_EQ(Parse(badAttribute), std::vector{kRouteAdd});
}

}  // namespace
}  // namespace quillon::lnx
