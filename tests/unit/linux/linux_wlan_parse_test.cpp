#include "platform/linux/linux_wlan_parse.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <cstring>
#include <string>
#include <vector>

#include "fakes/real_beacon.h"

namespace quillon::lnx {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

template <class T>
Bytes Raw(const T& value) {
    Bytes out(sizeof(T));
    std::memcpy(out.data(), &value, sizeof(T));
    return out;
}

// An attribute as the kernel lays it out: length, type, payload, padding to four bytes.
Bytes Attr(uint16_t type, const Bytes& payload) {
    Bytes out = Cat({Raw(uint16_t(4 + payload.size())), Raw(type), payload});
    out.resize((out.size() + 3) & ~size_t(3), 0);
    return out;
}
Bytes U8(uint16_t type, uint8_t value) {
    return Attr(type, {value});
}
Bytes U16(uint16_t type, uint16_t value) {
    return Attr(type, Raw(value));
}
Bytes U32(uint16_t type, uint32_t value) {
    return Attr(type, Raw(value));
}
Bytes Flag(uint16_t type) {
    return Attr(type, {});
}
Bytes Text(uint16_t type, const std::string& text) {
    return Attr(type, Bytes(text.c_str(), text.c_str() + text.size() + 1));
}
Bytes Nest(uint16_t type, std::initializer_list<Bytes> children) {
    return Attr(uint16_t(type | NLA_F_NESTED), Cat(children));
}

// One netlink message: header, then the generic-netlink header and attributes.
Bytes Message(uint16_t type, uint32_t sequence, uint8_t command, const Bytes& attributes) {
    const Bytes body = Cat({{command, 1, 0, 0}, attributes});
    nlmsghdr header{};
    header.nlmsg_len = uint32_t(NLMSG_HDRLEN + body.size());
    header.nlmsg_type = type;
    header.nlmsg_flags = NLM_F_MULTI;
    header.nlmsg_seq = sequence;
    return Cat({Raw(header), body});
}
Bytes Control(uint16_t type, uint32_t sequence, int32_t code) {
    nlmsghdr header{};
    header.nlmsg_len = NLMSG_HDRLEN + 4;
    header.nlmsg_type = type;
    header.nlmsg_seq = sequence;
    return Cat({Raw(header), Raw(code)});
}

constexpr uint16_t kFamily = 0x1c;
constexpr uint32_t kSeq = 7;

NetlinkReply Collect(std::initializer_list<Bytes> datagrams, uint32_t sequence = kSeq) {
    NetlinkReply reply;
    for (const Bytes& datagram : datagrams) {
        // A heap copy of exactly the datagram, so that AddressSanitizer sees a read past it.
        const Bytes copy = datagram;
        CollectReply(copy.data(), copy.size(), sequence, reply);
    }
    return reply;
}

// A WPA2/WPA3-Personal transition network: CCMP, PSK and SAE, protected frames capable.
const Bytes kRsnTransition = {48,   24,   1,    0,    0x00, 0x0F, 0xAC, 0x04, 1,
                              0,    0x00, 0x0F, 0xAC, 0x04, 2,    0,    0x00, 0x0F,
                              0xAC, 0x02, 0x00, 0x0F, 0xAC, 0x08, 0x80, 0x00};
const Bytes kHomeSsid = {0, 7, 'H', 'o', 'm', 'e', 'N', 'e', 't'};

const MacAddress kFreebsdAp = {0x00, 0x0b, 0x86, 0x01, 0x02, 0x03};
const MacAddress kHomeAp = {0x02, 0x60, 0x0d, 0x00, 0x00, 0x01};

Bytes BssMessage(const MacAddress& bssid, uint32_t mhz, int32_t mbm, uint16_t capability,
                 const Bytes& elements, bool associated) {
    Bytes bss = Cat({Attr(NL80211_BSS_BSSID, Bytes(bssid.begin(), bssid.end())),
                     U32(NL80211_BSS_FREQUENCY, mhz), U32(NL80211_BSS_SIGNAL_MBM, uint32_t(mbm)),
                     U16(NL80211_BSS_CAPABILITY, capability),
                     Attr(NL80211_BSS_INFORMATION_ELEMENTS, elements)});
    if (associated) bss = Cat({bss, U32(NL80211_BSS_STATUS, NL80211_BSS_STATUS_ASSOCIATED)});
    return Message(
        kFamily, kSeq, NL80211_CMD_NEW_SCAN_RESULTS,
        Cat({U32(NL80211_ATTR_IFINDEX, 3), Attr(uint16_t(NL80211_ATTR_BSS | NLA_F_NESTED), bss)}));
}

// The scan dump of a home: a neighbour (the real beacon) and our access point, in one datagram.
Bytes ScanDump() {
    return Cat({BssMessage(kFreebsdAp, 5180, -4500, 0x0001, test::kFreebsdBeacon, false),
                BssMessage(kHomeAp, 2437, -6250, 0x0011, Cat({kHomeSsid, kRsnTransition}), true),
                Control(NLMSG_DONE, kSeq, 0)});
}

// The access point as a station of ours: HE at 1201 Mbit/s out, 864.7 Mbit/s in.
Bytes StationAnswer() {
    const Bytes tx =
        Nest(NL80211_STA_INFO_TX_BITRATE,
             {U16(NL80211_RATE_INFO_BITRATE, 12010), U32(NL80211_RATE_INFO_BITRATE32, 12010),
              Flag(NL80211_RATE_INFO_80_MHZ_WIDTH), U8(NL80211_RATE_INFO_HE_MCS, 11),
              U8(NL80211_RATE_INFO_HE_NSS, 2), U8(NL80211_RATE_INFO_HE_GI, 0)});
    const Bytes rx = Nest(NL80211_STA_INFO_RX_BITRATE,
                          {U32(NL80211_RATE_INFO_BITRATE32, 8647), U8(NL80211_RATE_INFO_HE_MCS, 9),
                           U8(NL80211_RATE_INFO_HE_NSS, 2)});
    return Message(
        kFamily, kSeq, NL80211_CMD_NEW_STATION,
        Cat({U32(NL80211_ATTR_IFINDEX, 3),
             Attr(NL80211_ATTR_MAC, Bytes(kHomeAp.begin(), kHomeAp.end())),
             Nest(NL80211_ATTR_STA_INFO, {U32(NL80211_STA_INFO_INACTIVE_TIME, 40),
                                          U8(NL80211_STA_INFO_SIGNAL, uint8_t(-58)), tx, rx})}));
}

Bytes InterfaceAnswer(bool connected) {
    Bytes attributes =
        Cat({U32(NL80211_ATTR_IFINDEX, 3), Text(NL80211_ATTR_IFNAME, "wlan0"),
             U32(NL80211_ATTR_WIPHY, 0), U32(NL80211_ATTR_IFTYPE, NL80211_IFTYPE_STATION)});
    if (connected) {
        attributes = Cat({attributes, Attr(NL80211_ATTR_SSID, {'H', 'o', 'm', 'e', 'N', 'e', 't'}),
                          U32(NL80211_ATTR_WIPHY_FREQ, 2437),
                          U32(NL80211_ATTR_CHANNEL_WIDTH, NL80211_CHAN_WIDTH_40),
                          U32(NL80211_ATTR_CENTER_FREQ1, 2447)});
    }
    return Message(kFamily, kSeq, NL80211_CMD_NEW_INTERFACE, attributes);
}

TEST(LinuxWlanParse, RepliesEndAtTheirAcknowledgementDoneOrError) {
    // The family answer, after a late answer to an earlier request that must be skipped.
    const Bytes family =
        Message(GENL_ID_CTRL, kSeq, CTRL_CMD_NEWFAMILY,
                Cat({Text(CTRL_ATTR_FAMILY_NAME, "nl80211"), U16(CTRL_ATTR_FAMILY_ID, kFamily),
                     U32(CTRL_ATTR_VERSION, 1)}));
    const Bytes late =
        Message(kFamily, kSeq - 1, NL80211_CMD_NEW_INTERFACE, U32(NL80211_ATTR_IFINDEX, 3));
    const NetlinkReply resolved = Collect(
        {Cat({late, Control(NLMSG_DONE, kSeq - 1, 0), family}), Control(NLMSG_ERROR, kSeq, 0)});
    EXPECT_TRUE(resolved.finished);
    EXPECT_EQ(resolved.error, 0);
    ASSERT_EQ(resolved.messages.size(), 1u);
    EXPECT_EQ(resolved.messages[0].command, CTRL_CMD_NEWFAMILY);
    EXPECT_EQ(FamilyIdFromAnswer(resolved.messages[0]), kFamily);
    const NetlinkReply stale = Collect({family}, kSeq + 1);
    EXPECT_TRUE(stale.messages.empty());
    EXPECT_FALSE(stale.finished);

    // No such family (no wireless support in the kernel).
    const NetlinkReply missing = Collect({Control(NLMSG_ERROR, kSeq, -ENOENT)});
    EXPECT_TRUE(missing.finished);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_TRUE(missing.messages.empty());

    // A dump goes on across datagrams until its end; nothing after the end is taken.
    NetlinkReply dump = Collect({BssMessage(kHomeAp, 2412, -5000, 1, kHomeSsid, false)});
    EXPECT_FALSE(dump.finished);
    const Bytes last = Cat({ScanDump(), StationAnswer()});
    CollectReply(last.data(), last.size(), kSeq, dump);
    EXPECT_TRUE(dump.finished);
    EXPECT_EQ(dump.error, 0);
    EXPECT_EQ(dump.messages.size(), 3u);
    // A dump that fails on its way says so in its end.
    EXPECT_EQ(Collect({Control(NLMSG_DONE, kSeq, -ENODEV)}).error, ENODEV);

    // Requests: lengths cover what they hold, nested lengths their children.
    GenlRequest request(kFamily, NLM_F_ACK, 42, NL80211_CMD_TRIGGER_SCAN, 0);
    request.AddU32(NL80211_ATTR_IFINDEX, 3);
    const size_t ssids = request.BeginNested(NL80211_ATTR_SCAN_SSIDS);
    request.AddBytes(1, nullptr, 0);
    request.EndNested(ssids);
    request.AddString(NL80211_ATTR_IFNAME, "wlan0");
    const Bytes bytes = request.Bytes();
    nlmsghdr header;
    std::memcpy(&header, bytes.data(), sizeof(header));
    EXPECT_EQ(header.nlmsg_len, bytes.size());
    EXPECT_EQ(header.nlmsg_flags, NLM_F_REQUEST | NLM_F_ACK);
    EXPECT_EQ(header.nlmsg_seq, 42u);
    EXPECT_EQ(bytes[NLMSG_HDRLEN], NL80211_CMD_TRIGGER_SCAN);
    const auto top = ReadAttributes(bytes.data() + NLMSG_HDRLEN + GENL_HDRLEN,
                                    bytes.size() - NLMSG_HDRLEN - GENL_HDRLEN);
    ASSERT_EQ(top.size(), 3u);
    EXPECT_EQ(top[1].type, NL80211_ATTR_SCAN_SSIDS);
    const auto wildcard = ReadAttributes(top[1]);
    ASSERT_EQ(wildcard.size(), 1u);
    EXPECT_EQ(wildcard[0].size, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(top[2].data), top[2].size),
              std::string("wlan0", 6));
}

TEST(LinuxWlanParse, InterfacesChannelsAndLinks) {
    const NetlinkReply reply = Collect(
        {Cat({InterfaceAnswer(true), InterfaceAnswer(false), Control(NLMSG_DONE, kSeq, 0)})});
    ASSERT_EQ(reply.messages.size(), 2u);
    const auto connected = ParseInterface(reply.messages[0]);
    const auto idle = ParseInterface(reply.messages[1]);
    ASSERT_TRUE(connected && idle);
    const WlanInterfaceInfo info = InterfaceInfoOf(*connected);
    EXPECT_EQ(info.id, "3");
    EXPECT_EQ(info.description, "wlan0");
    EXPECT_TRUE(info.connected);
    EXPECT_FALSE(InterfaceInfoOf(*idle).connected);
    EXPECT_EQ(ChannelOfFrequency(connected->frequencyMhz), 6u);
    EXPECT_EQ(ChannelOfFrequency(5180), 36u);
    EXPECT_EQ(ChannelOfFrequency(6115), 33u);
    EXPECT_EQ(ChannelOfFrequency(2484), 14u);
    EXPECT_FALSE(ChannelOfFrequency(0));

    // One link from the interface's channel, with the access point's signal.
    const auto station = ParseStation(Collect({StationAnswer()}).messages.at(0));
    ASSERT_TRUE(station);
    const auto single = RealtimeQualityOf(*connected, {*station});
    ASSERT_TRUE(single);
    EXPECT_FALSE(single->isMultiLink);
    ASSERT_EQ(single->links.size(), 1u);
    EXPECT_EQ(single->links[0].frequencyMhz, 2437u);
    EXPECT_EQ(single->links[0].bandwidthMhz, 40u);
    EXPECT_EQ(single->links[0].rssiDbm, -58);
    EXPECT_FALSE(RealtimeQualityOf(*idle, {}));

    // A multi-link connection: one link per entry, the top-level channel absent.
    const Bytes mlo = Message(
        kFamily, kSeq, NL80211_CMD_NEW_INTERFACE,
        Cat({U32(NL80211_ATTR_IFINDEX, 4), U32(NL80211_ATTR_IFTYPE, NL80211_IFTYPE_STATION),
             Attr(NL80211_ATTR_SSID, {'M'}),
             Nest(NL80211_ATTR_MLO_LINKS,
                  {Nest(1, {U8(NL80211_ATTR_MLO_LINK_ID, 0), U32(NL80211_ATTR_WIPHY_FREQ, 5180),
                            U32(NL80211_ATTR_CHANNEL_WIDTH, NL80211_CHAN_WIDTH_160)}),
                   Nest(2, {U8(NL80211_ATTR_MLO_LINK_ID, 2), U32(NL80211_ATTR_WIPHY_FREQ, 6115),
                            U32(NL80211_ATTR_CHANNEL_WIDTH, NL80211_CHAN_WIDTH_320)}),
                   Nest(3, {U8(NL80211_ATTR_MLO_LINK_ID, 3)})})}));  // no channel: skipped
    const auto multi = ParseInterface(Collect({mlo}).messages.at(0));
    ASSERT_TRUE(multi);
    const auto links = RealtimeQualityOf(*multi, {});
    ASSERT_TRUE(links);
    EXPECT_TRUE(links->isMultiLink);
    ASSERT_EQ(links->links.size(), 2u);
    EXPECT_EQ(links->links[0].linkId, 0u);
    EXPECT_EQ(links->links[0].bandwidthMhz, 160u);
    EXPECT_EQ(links->links[1].linkId, 2u);
    EXPECT_EQ(links->links[1].frequencyMhz, 6115u);
    EXPECT_EQ(links->links[1].bandwidthMhz, 320u);

    // A wireless device without a network interface is no interface.
    EXPECT_FALSE(ParseInterface(
        Collect({Message(kFamily, kSeq, NL80211_CMD_NEW_INTERFACE, U32(NL80211_ATTR_IFTYPE, 10))})
            .messages.at(0)));
}

TEST(LinuxWlanParse, ScanDumpAndStationMakeTheConnection) {
    const NetlinkReply reply = Collect({ScanDump()});
    ASSERT_TRUE(reply.finished);
    std::vector<WifiBss> scan;
    for (const GenlMessage& message : reply.messages) scan.push_back(ParseBss(message).value());
    ASSERT_EQ(scan.size(), 2u);

    const WlanBssEntry neighbour = BssEntryOf(scan[0]);
    EXPECT_EQ(neighbour.ssid, Bytes({'f', 'r', 'e', 'e', 'b', 's', 'd', '-', 'a', 'p'}));
    EXPECT_EQ(neighbour.bssid, kFreebsdAp);
    EXPECT_EQ(neighbour.centerFrequencyKhz, 5'180'000u);
    EXPECT_EQ(neighbour.rssiDbm, -45);
    EXPECT_EQ(neighbour.linkQuality, 100u);
    EXPECT_EQ(neighbour.informationElements, test::kFreebsdBeacon);
    EXPECT_FALSE(scan[0].associated);
    EXPECT_EQ(BssEntryOf(scan[1]).rssiDbm, -62);
    EXPECT_EQ(BssEntryOf(scan[1]).linkQuality, 76u);

    const auto station = ParseStation(Collect({StationAnswer()}).messages.at(0));
    const auto interface = ParseInterface(Collect({InterfaceAnswer(true)}).messages.at(0));
    ASSERT_TRUE(station && interface);
    const auto connection = ConnectionOf(*interface, scan, {*station});
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->ssid, Bytes({'H', 'o', 'm', 'e', 'N', 'e', 't'}));
    EXPECT_EQ(connection->bssid, kHomeAp);
    EXPECT_EQ(connection->signalQuality, 84u);  // -58 dBm, from the station
    EXPECT_EQ(connection->phyType, 10u);        // HE
    EXPECT_EQ(connection->authAlgorithm, 9u);   // the transition network's WPA3-Personal
    EXPECT_EQ(connection->cipherAlgorithm, 4u);
    EXPECT_EQ(connection->txRateKbps, 1'201'000u);
    EXPECT_EQ(connection->rxRateKbps, 864'700u);

    // Without a station answer the scan entry's signal serves; without an associated entry
    // and the interface's network name there is no connection.
    EXPECT_EQ(ConnectionOf(*interface, scan, {})->signalQuality, 76u);
    const auto idle = ParseInterface(Collect({InterfaceAnswer(false)}).messages.at(0));
    EXPECT_FALSE(ConnectionOf(*idle, {scan[0]}, {*station}));
    EXPECT_TRUE(ConnectionOf(*idle, scan, {}));  // older kernels name no network
}

TEST(LinuxWlanParse, SecurityRatesAndSignal) {
    struct Case {
        const char* name;
        Bytes elements;
        uint16_t capability;
        uint32_t auth, cipher;
    };
    const auto rsn = [](uint8_t pairwise, std::initializer_list<uint8_t> akms) {
        Bytes body = {
            1, 0, 0x00, 0x0F, 0xAC, 4, 1, 0, 0x00, 0x0F, 0xAC, pairwise, uint8_t(akms.size()), 0};
        for (const uint8_t akm : akms) body.insert(body.end(), {0x00, 0x0F, 0xAC, akm});
        return Cat({{48, uint8_t(body.size())}, body});
    };
    const Bytes wpaPskTkip = {221, 22, 0x00, 0x50, 0xF2, 1, 1, 0, 0x00, 0x50, 0xF2, 2,
                              1,   0,  0x00, 0x50, 0xF2, 2, 1, 0, 0x00, 0x50, 0xF2, 2};
    const std::vector<Case> cases = {
        {"transition", Cat({kHomeSsid, kRsnTransition}), 0x11, 9, 4},
        {"WPA2-Personal", rsn(4, {2}), 0x11, 7, 4},
        {"WPA2-Enterprise", rsn(4, {1}), 0x11, 6, 4},
        {"802.1X SHA-256", rsn(4, {5}), 0x11, 11, 4},
        {"192-bit", rsn(9, {12}), 0x11, 8, 9},
        {"OWE", rsn(4, {18}), 0x11, 10, 4},
        {"FT-SAE", rsn(8, {9}), 0x11, 9, 8},
        {"unknown AKM", rsn(4, {99}), 0x11, 0, 4},
        {"WPA", wpaPskTkip, 0x11, 4, 2},
        {"RSN over WPA", Cat({wpaPskTkip, rsn(4, {2})}), 0x11, 7, 4},
        {"version only: the defaults", {48, 2, 1, 0}, 0x11, 6, 4},
        // The pairwise list claims more suites than fit: what fits counts, no AKM follows.
        {"cut list",
         {48, 14, 1, 0, 0x00, 0x0F, 0xAC, 4, 3, 0, 0x00, 0x0F, 0xAC, 8, 1, 0},
         0x11,
         6,
         8},
        // The element runs past the end: it is not there.
        {"RSN past the end", {48, 30, 1, 0, 0x00, 0x0F, 0xAC, 4}, 0x11, 1, 0x101},
        {"WEP", kHomeSsid, 0x11, 1, 0x101},
        {"open", kHomeSsid, 0x01, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes copy = c.elements;
        const WifiSecurity security = SecurityOfElements(copy.data(), copy.size(), c.capability);
        EXPECT_EQ(security.authAlgorithm, c.auth);
        EXPECT_EQ(security.cipherAlgorithm, c.cipher);
    }

    const auto rate = [](uint32_t kbps, uint32_t phy) {
        return std::optional(WifiRate{kbps, phy});
    };
    EXPECT_EQ(PhyTypeOfLink(rate(54000, 0), rate(1000, 0), 2412), 6u);   // ERP
    EXPECT_EQ(PhyTypeOfLink(rate(11000, 0), std::nullopt, 2412), 5u);    // HR/DSSS
    EXPECT_EQ(PhyTypeOfLink(rate(24000, 0), rate(6000, 0), 5180), 4u);   // OFDM
    EXPECT_EQ(PhyTypeOfLink(rate(6000, 0), rate(144400, 7), 2412), 7u);  // HT beats legacy
    EXPECT_EQ(PhyTypeOfLink(rate(866700, 8), rate(1000, 0), 5180), 8u);
    EXPECT_EQ(PhyTypeOfLink(rate(2882000, 11), rate(1201000, 10), 6115), 11u);
    EXPECT_EQ(PhyTypeOfLink(std::nullopt, std::nullopt, 2412), 0u);

    EXPECT_EQ(SignalQualityFromDbm(-100), 0u);
    EXPECT_EQ(SignalQualityFromDbm(-75), 50u);
    EXPECT_EQ(SignalQualityFromDbm(-50), 100u);
    EXPECT_EQ(SignalQualityFromDbm(-20), 100u);
    EXPECT_EQ(SignalQualityFromDbm(-127), 0u);
}

// Whatever the lengths say, nothing is read outside the bytes given (AddressSanitizer watches
// the heap copies); a damaged message yields less, never more.
TEST(LinuxWlanParse, TruncatedAndLyingLengthsStayInside) {
    const Bytes whole = Cat({ScanDump(), StationAnswer(), InterfaceAnswer(true)});
    const auto readEverything = [](const NetlinkReply& reply) {
        size_t found = 0;
        for (const GenlMessage& message : reply.messages) {
            if (const auto bss = ParseBss(message)) {
                ++found;
                BssEntryOf(*bss);
                SecurityOfElements(bss->elements.data(), bss->elements.size(), bss->capability);
            }
            if (const auto station = ParseStation(message)) {
                ++found;
                PhyTypeOfLink(station->rx, station->tx, 2412);
            }
            if (const auto interface = ParseInterface(message)) {
                ++found;
                RealtimeQualityOf(*interface, {});
            }
        }
        return found;
    };
    const size_t dumpEnd = ScanDump().size();
    for (size_t cut = 0; cut <= whole.size(); ++cut) {
        const Bytes part(whole.begin(), whole.begin() + std::ptrdiff_t(cut));
        NetlinkReply reply;
        CollectReply(part.data(), part.size(), kSeq, reply);
        EXPECT_LE(reply.messages.size(), 2u);
        EXPECT_EQ(reply.finished, cut >= dumpEnd);
        readEverything(reply);
    }

    // Every byte of the messages set to 0xFF in turn: lengths that lie at every level.
    for (size_t at = 0; at < whole.size(); ++at) {
        Bytes damaged = whole;
        damaged[at] = 0xFF;
        NetlinkReply reply;
        CollectReply(damaged.data(), damaged.size(), kSeq, reply);
        readEverything(reply);
    }

    // A message longer than the datagram is not read at all; an attribute longer than its
    // message ends the attributes there.
    Bytes longer = StationAnswer();
    longer[0] = uint8_t(longer.size() + 4);
    EXPECT_TRUE(Collect({longer}).messages.empty());
    Bytes lying = InterfaceAnswer(true);
    const size_t firstAttribute = NLMSG_HDRLEN + GENL_HDRLEN + 8;  // after the index
    lying[firstAttribute] = 0xF0;
    const auto cut = ParseInterface(Collect({lying}).messages.at(0));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->ifindex, 3u);
    EXPECT_TRUE(cut->name.empty());
    EXPECT_FALSE(cut->ssid);
    const Bytes tiny = {4, 0};  // shorter than an attribute header
    EXPECT_TRUE(ReadAttributes(tiny.data(), tiny.size()).empty());
}

}  // namespace
}  // namespace quillon::lnx
