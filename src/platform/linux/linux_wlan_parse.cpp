#include "platform/linux/linux_wlan_parse.h"

#include <linux/genetlink.h>
#include <linux/netlink.h>
#include <linux/nl80211.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/linux/unaligned_read.h"

namespace quillon::lnx {

namespace {

// A fixed-size value of an attribute; nothing when the attribute is missing or too short.
template <class T>
std::optional<T> Value(const NetlinkAttribute* attribute) {
    if (attribute == nullptr || attribute->size < sizeof(T)) return std::nullopt;
    return Read<T>(attribute->data);
}
template <class T>
std::optional<T> Value(const std::vector<NetlinkAttribute>& list, uint16_t type) {
    return Value<T>(FindAttribute(list, type));
}

std::optional<MacAddress> Mac(const NetlinkAttribute* attribute) {
    if (attribute == nullptr || attribute->size < 6) return std::nullopt;
    MacAddress mac{};
    std::memcpy(mac.data(), attribute->data, mac.size());
    return mac;
}

constexpr size_t kMaxSsid = 32;

std::vector<uint8_t> Ssid(const uint8_t* data, size_t size) {
    return {data, data + std::min(size, kMaxSsid)};
}

uint32_t WidthMhz(uint32_t width) {
    switch (width) {
        case NL80211_CHAN_WIDTH_20_NOHT:
        case NL80211_CHAN_WIDTH_20:
            return 20;
        case NL80211_CHAN_WIDTH_40:
            return 40;
        case NL80211_CHAN_WIDTH_80:
            return 80;
        case NL80211_CHAN_WIDTH_80P80:
        case NL80211_CHAN_WIDTH_160:
            return 160;
        case NL80211_CHAN_WIDTH_320:
            return 320;
        case NL80211_CHAN_WIDTH_5:
            return 5;
        case NL80211_CHAN_WIDTH_10:
            return 10;
        case NL80211_CHAN_WIDTH_1:
            return 1;
        case NL80211_CHAN_WIDTH_2:
            return 2;
        case NL80211_CHAN_WIDTH_4:
            return 4;
        case NL80211_CHAN_WIDTH_8:
            return 8;
        case NL80211_CHAN_WIDTH_16:
            return 16;
        default:
            return 0;
    }
}

std::optional<WifiRate> Rate(const NetlinkAttribute* attribute) {
    if (attribute == nullptr) return std::nullopt;
    const auto info = ReadAttributes(*attribute);
    WifiRate rate;
    // Both sizes count 100 kbit/s; the 32-bit one exists for rates past 6.5 Gbit/s.
    uint64_t units = 0;
    if (const auto wide = Value<uint32_t>(info, NL80211_RATE_INFO_BITRATE32)) {
        units = *wide;
    } else if (const auto narrow = Value<uint16_t>(info, NL80211_RATE_INFO_BITRATE)) {
        units = *narrow;
    } else {
        return std::nullopt;
    }
    rate.kbps = uint32_t(std::min<uint64_t>(units * 100, std::numeric_limits<uint32_t>::max()));
    if (FindAttribute(info, NL80211_RATE_INFO_MCS)) rate.phyType = 7;
    if (FindAttribute(info, NL80211_RATE_INFO_VHT_MCS)) rate.phyType = 8;
    if (FindAttribute(info, NL80211_RATE_INFO_HE_MCS)) rate.phyType = 10;
    if (FindAttribute(info, NL80211_RATE_INFO_EHT_MCS)) rate.phyType = 11;
    return rate;
}

// Calls `visit(id, body, length)` for each whole element, from the start until one runs past
// the end.
template <class Visit>
void ForEachElement(const uint8_t* data, size_t size, Visit visit) {
    size_t at = 0;
    while (data != nullptr && size - at >= 2) {
        const size_t length = data[at + 1];
        if (length > size - at - 2) return;
        visit(data[at], data + at + 2, length);
        at += 2 + length;
    }
}

// ---- Security suites ----

constexpr uint8_t kRsnOui[3] = {0x00, 0x0F, 0xAC};
constexpr uint8_t kWpaOui[3] = {0x00, 0x50, 0xF2};

constexpr uint32_t kAuthOpen = 1, kAuthWpa = 3, kAuthWpaPsk = 4, kAuthRsna = 6, kAuthRsnaPsk = 7,
                   kAuthWpa3Enterprise192 = 8, kAuthWpa3Sae = 9, kAuthOwe = 10,
                   kAuthWpa3Enterprise = 11;
constexpr uint32_t kCipherNone = 0, kCipherTkip = 2, kCipherCcmp = 4, kCipherWep = 0x101;

uint32_t RsnAuth(uint8_t akm) {
    switch (akm) {
        case 1:  // 802.1X
        case 3:  // FT over 802.1X
            return kAuthRsna;
        case 2:  // PSK
        case 4:  // FT with PSK
        case 6:  // PSK with SHA-256
            return kAuthRsnaPsk;
        case 5:  // 802.1X with SHA-256
            return kAuthWpa3Enterprise;
        case 8:   // SAE
        case 9:   // FT with SAE
        case 24:  // SAE with a group-dependent hash
        case 25:  // FT with that SAE
            return kAuthWpa3Sae;
        case 12:  // 802.1X Suite B, 192-bit
        case 13:  // FT over 802.1X with SHA-384
            return kAuthWpa3Enterprise192;
        case 18:
            return kAuthOwe;
        default:
            return 0;
    }
}

int AuthStrength(uint32_t auth) {
    switch (auth) {
        case kAuthWpa3Enterprise192:
            return 8;
        case kAuthWpa3Enterprise:
            return 7;
        case kAuthRsna:
            return 6;
        case kAuthWpa3Sae:
            return 5;
        case kAuthRsnaPsk:
            return 4;
        case kAuthOwe:
            return 3;
        case kAuthWpa:
            return 2;
        case kAuthWpaPsk:
            return 1;
        default:
            return 0;
    }
}

// RSN suite types share the Windows numbers; WPA's are the older subset.
uint32_t Cipher(uint8_t type) {
    switch (type) {
        case 1:   // WEP-40
        case 2:   // TKIP
        case 4:   // CCMP-128
        case 5:   // WEP-104
        case 8:   // GCMP-128
        case 9:   // GCMP-256
        case 10:  // CCMP-256
            return type;
        default:
            return 0;
    }
}

int CipherStrength(uint32_t cipher) {
    switch (cipher) {
        case 9:
            return 6;
        case 10:
            return 5;
        case 8:
            return 4;
        case 4:
            return 3;
        case 2:
            return 2;
        case 1:
        case 5:
            return 1;
        default:
            return 0;
    }
}

// The body of an RSN element, or of a WPA element after its OUI and type: version, group
// suite, pairwise suites, key-management suites. Fields left out take the defaults of the
// standard (CCMP and 802.1X for RSN, TKIP and 802.1X for WPA); a list cut short keeps the suites
// that fit, and leaves too little for another list.
WifiSecurity ReadSuites(const uint8_t* body, size_t length, const uint8_t (&oui)[3], bool rsn) {
    const auto ours = [&](const uint8_t* suite) { return std::memcmp(suite, oui, 3) == 0; };
    WifiSecurity out;
    size_t at = 2;  // past the version
    uint32_t group = rsn ? kCipherCcmp : kCipherTkip;
    if (length >= at + 4) {
        if (ours(body + at)) group = Cipher(body[at + 3]);
        at += 4;
    }
    uint32_t pairwise = 0;
    bool pairwiseListed = false;
    if (length >= at + 2) {
        const size_t count = size_t(body[at] | (body[at + 1] << 8));
        at += 2;
        for (size_t i = 0; i < count && length - at >= 4; ++i, at += 4) {
            pairwiseListed = true;
            // Suite 0 means "use the group cipher" (old access points only).
            const uint32_t cipher = !ours(body + at)    ? 0
                                    : body[at + 3] == 0 ? group
                                                        : Cipher(body[at + 3]);
            if (CipherStrength(cipher) > CipherStrength(pairwise)) pairwise = cipher;
        }
    }
    out.cipherAlgorithm = pairwiseListed ? pairwise : (rsn ? kCipherCcmp : kCipherTkip);
    bool akmListed = false;
    if (length >= at + 2) {
        const size_t count = size_t(body[at] | (body[at + 1] << 8));
        at += 2;
        for (size_t i = 0; i < count && length - at >= 4; ++i, at += 4) {
            akmListed = true;
            if (!ours(body + at)) continue;
            const uint8_t akm = body[at + 3];
            const uint32_t auth = rsn        ? RsnAuth(akm)
                                  : akm == 1 ? kAuthWpa
                                  : akm == 2 ? kAuthWpaPsk
                                             : 0;
            if (AuthStrength(auth) > AuthStrength(out.authAlgorithm)) out.authAlgorithm = auth;
        }
    }
    if (!akmListed) out.authAlgorithm = rsn ? kAuthRsna : kAuthWpa;
    return out;
}

}  // namespace

// ---- Netlink framing ----

std::vector<NetlinkAttribute> ReadAttributes(const uint8_t* data, size_t size) {
    std::vector<NetlinkAttribute> out;
    size_t offset = 0;
    while (data != nullptr && size - offset >= NLA_HDRLEN) {
        const auto header = Read<nlattr>(data + offset);
        if (header.nla_len < NLA_HDRLEN || header.nla_len > size - offset) break;
        out.push_back({uint16_t(header.nla_type & NLA_TYPE_MASK), data + offset + NLA_HDRLEN,
                       size_t(header.nla_len) - NLA_HDRLEN});
        offset += std::min<size_t>(NLA_ALIGN(size_t(header.nla_len)), size - offset);
    }
    return out;
}

const NetlinkAttribute* FindAttribute(const std::vector<NetlinkAttribute>& list, uint16_t type) {
    for (const NetlinkAttribute& attribute : list) {
        if (attribute.type == type) return &attribute;
    }
    return nullptr;
}

void CollectReply(const uint8_t* data, size_t size, uint32_t sequence, NetlinkReply& reply) {
    size_t offset = 0;
    while (data != nullptr && !reply.finished && size - offset >= NLMSG_HDRLEN) {
        const auto header = Read<nlmsghdr>(data + offset);
        if (header.nlmsg_len < NLMSG_HDRLEN || header.nlmsg_len > size - offset) break;
        const uint8_t* payload = data + offset + NLMSG_HDRLEN;
        const size_t payloadSize = header.nlmsg_len - NLMSG_HDRLEN;
        offset += std::min<size_t>(NLMSG_ALIGN(size_t(header.nlmsg_len)), size - offset);
        if (header.nlmsg_seq != sequence) continue;  // a late answer to an abandoned request
        if (header.nlmsg_type == NLMSG_ERROR || header.nlmsg_type == NLMSG_DONE) {
            reply.finished = true;
            // An error carries -errno first (0 for an acknowledgement); a dump's end may too.
            const int32_t code = payloadSize >= 4                   ? Read<int32_t>(payload)
                                 : header.nlmsg_type == NLMSG_ERROR ? -EBADMSG
                                                                    : 0;
            reply.error = code == 0 ? 0 : code < 0 && code > -4096 ? -code : EPROTO;
        } else if (header.nlmsg_type >= NLMSG_MIN_TYPE && payloadSize >= GENL_HDRLEN) {
            reply.messages.push_back({payload[0], {payload + GENL_HDRLEN, payload + payloadSize}});
        }
    }
}

GenlRequest::GenlRequest(uint16_t family, uint16_t flags, uint32_t sequence, uint8_t command,
                         uint8_t version) {
    nlmsghdr header{};
    header.nlmsg_type = family;
    header.nlmsg_flags = uint16_t(NLM_F_REQUEST | flags);
    header.nlmsg_seq = sequence;
    const genlmsghdr genl{command, version, 0};
    bytes_.resize(NLMSG_HDRLEN + GENL_HDRLEN);
    std::memcpy(bytes_.data(), &header, sizeof(header));
    std::memcpy(bytes_.data() + NLMSG_HDRLEN, &genl, sizeof(genl));
}

void GenlRequest::AddU32(uint16_t type, uint32_t value) {
    AddBytes(type, &value, sizeof(value));
}

void GenlRequest::AddBytes(uint16_t type, const void* data, size_t size) {
    const nlattr header{uint16_t(NLA_HDRLEN + size), type};
    const size_t at = bytes_.size();
    bytes_.resize(at + NLA_ALIGN(NLA_HDRLEN + size), 0);
    std::memcpy(bytes_.data() + at, &header, sizeof(header));
    if (size > 0) std::memcpy(bytes_.data() + at + NLA_HDRLEN, data, size);
}

void GenlRequest::AddString(uint16_t type, const std::string& text) {
    AddBytes(type, text.c_str(), text.size() + 1);
}

size_t GenlRequest::BeginNested(uint16_t type) {
    const size_t start = bytes_.size();
    AddBytes(uint16_t(type | NLA_F_NESTED), nullptr, 0);
    return start;
}

void GenlRequest::EndNested(size_t start) {
    const auto length = uint16_t(bytes_.size() - start);
    std::memcpy(bytes_.data() + start, &length, sizeof(length));
}

const std::vector<uint8_t>& GenlRequest::Bytes() {
    const auto length = uint32_t(bytes_.size());
    std::memcpy(bytes_.data(), &length, sizeof(length));
    return bytes_;
}

std::optional<uint16_t> FamilyIdFromAnswer(const GenlMessage& message) {
    const auto attributes = ReadAttributes(message.attributes.data(), message.attributes.size());
    return Value<uint16_t>(attributes, CTRL_ATTR_FAMILY_ID);
}

// ---- nl80211 answers ----

std::optional<WifiInterface> ParseInterface(const GenlMessage& message) {
    const auto attributes = ReadAttributes(message.attributes.data(), message.attributes.size());
    const auto ifindex = Value<uint32_t>(attributes, NL80211_ATTR_IFINDEX);
    if (!ifindex) return std::nullopt;
    WifiInterface out;
    out.ifindex = *ifindex;
    if (const auto* name = FindAttribute(attributes, NL80211_ATTR_IFNAME)) {
        const uint8_t* end = name->data + name->size;
        out.name.assign(name->data, std::find(name->data, end, uint8_t(0)));
    }
    out.iftype = Value<uint32_t>(attributes, NL80211_ATTR_IFTYPE).value_or(0);
    if (const auto* ssid = FindAttribute(attributes, NL80211_ATTR_SSID)) {
        out.ssid = Ssid(ssid->data, ssid->size);
    }
    out.frequencyMhz = Value<uint32_t>(attributes, NL80211_ATTR_WIPHY_FREQ).value_or(0);
    if (out.frequencyMhz != 0) {
        out.widthMhz = WidthMhz(Value<uint32_t>(attributes, NL80211_ATTR_CHANNEL_WIDTH)
                                    .value_or(NL80211_CHAN_WIDTH_20));
    }
    if (const auto* links = FindAttribute(attributes, NL80211_ATTR_MLO_LINKS)) {
        for (const NetlinkAttribute& entry : ReadAttributes(*links)) {
            const auto link = ReadAttributes(entry);
            const auto id = Value<uint8_t>(link, NL80211_ATTR_MLO_LINK_ID);
            const auto frequency = Value<uint32_t>(link, NL80211_ATTR_WIPHY_FREQ);
            if (!id || !frequency) continue;
            const auto width = Value<uint32_t>(link, NL80211_ATTR_CHANNEL_WIDTH);
            out.links.push_back({*id, *frequency, WidthMhz(width.value_or(NL80211_CHAN_WIDTH_20))});
        }
    }
    return out;
}

std::optional<WifiBss> ParseBss(const GenlMessage& message) {
    const auto attributes = ReadAttributes(message.attributes.data(), message.attributes.size());
    const auto* nested = FindAttribute(attributes, NL80211_ATTR_BSS);
    if (nested == nullptr) return std::nullopt;
    const auto bss = ReadAttributes(*nested);
    const auto bssid = Mac(FindAttribute(bss, NL80211_BSS_BSSID));
    if (!bssid) return std::nullopt;
    WifiBss out;
    out.bssid = *bssid;
    const uint64_t khz = uint64_t(Value<uint32_t>(bss, NL80211_BSS_FREQUENCY).value_or(0)) * 1000 +
                         Value<uint32_t>(bss, NL80211_BSS_FREQUENCY_OFFSET).value_or(0);
    out.frequencyKhz = uint32_t(std::min<uint64_t>(khz, std::numeric_limits<uint32_t>::max()));
    if (const auto mbm = Value<int32_t>(bss, NL80211_BSS_SIGNAL_MBM)) out.signalDbm = *mbm / 100;
    if (const auto percent = Value<uint8_t>(bss, NL80211_BSS_SIGNAL_UNSPEC)) {
        out.signalPercent = std::min<uint32_t>(*percent, 100);
    }
    out.capability = Value<uint16_t>(bss, NL80211_BSS_CAPABILITY).value_or(0);
    out.associated =
        Value<uint32_t>(bss, NL80211_BSS_STATUS) == uint32_t(NL80211_BSS_STATUS_ASSOCIATED);
    const auto* elements = FindAttribute(bss, NL80211_BSS_INFORMATION_ELEMENTS);
    if (elements == nullptr) elements = FindAttribute(bss, NL80211_BSS_BEACON_IES);
    if (elements != nullptr) {
        out.elements.assign(elements->data, elements->data + elements->size);
        bool found = false;
        ForEachElement(elements->data, elements->size,
                       [&](uint8_t id, const uint8_t* body, size_t length) {
                           if (id != 0 || found) return;
                           found = true;
                           out.ssid = Ssid(body, length);
                       });
    }
    return out;
}

std::optional<WifiStation> ParseStation(const GenlMessage& message) {
    const auto attributes = ReadAttributes(message.attributes.data(), message.attributes.size());
    const auto address = Mac(FindAttribute(attributes, NL80211_ATTR_MAC));
    if (!address) return std::nullopt;
    WifiStation out;
    out.address = *address;
    if (const auto* nested = FindAttribute(attributes, NL80211_ATTR_STA_INFO)) {
        const auto info = ReadAttributes(*nested);
        auto signal = Value<int8_t>(info, NL80211_STA_INFO_SIGNAL);
        if (!signal) signal = Value<int8_t>(info, NL80211_STA_INFO_SIGNAL_AVG);
        if (signal) out.signalDbm = *signal;
        out.rx = Rate(FindAttribute(info, NL80211_STA_INFO_RX_BITRATE));
        out.tx = Rate(FindAttribute(info, NL80211_STA_INFO_TX_BITRATE));
    }
    return out;
}

// ---- The port's records ----

uint32_t SignalQualityFromDbm(int32_t dbm) {
    return uint32_t(std::clamp<int64_t>(2 * (int64_t(dbm) + 100), 0, 100));
}

std::optional<uint32_t> ChannelOfFrequency(uint32_t mhz) {
    if (mhz == 2484) return 14;
    if (mhz >= 2412 && mhz <= 2472) return (mhz - 2407) / 5;
    if (mhz >= 5160 && mhz <= 5885) return (mhz - 5000) / 5;
    if (mhz == 5935) return 2;  // the 6 GHz band's one channel off the 20 MHz grid
    if (mhz >= 5955 && mhz <= 7115) return (mhz - 5950) / 5;
    return std::nullopt;
}

uint32_t PhyTypeOfLink(const std::optional<WifiRate>& rx, const std::optional<WifiRate>& tx,
                       uint32_t frequencyMhz) {
    if (!rx && !tx) return 0;
    const WifiRate none;
    const WifiRate& a = rx ? *rx : none;
    const WifiRate& b = tx ? *tx : none;
    if (a.phyType != 0 || b.phyType != 0) return std::max(a.phyType, b.phyType);
    if (frequencyMhz >= 2400 && frequencyMhz < 2500) {
        return std::max(a.kbps, b.kbps) > 11000 ? 6 : 5;  // ERP, else HR/DSSS
    }
    return frequencyMhz >= 4900 ? 4 : 0;  // OFDM
}

WifiSecurity SecurityOfElements(const uint8_t* data, size_t size, uint16_t capability) {
    std::optional<WifiSecurity> rsn, wpa;
    ForEachElement(data, size, [&](uint8_t id, const uint8_t* body, size_t length) {
        if (id == 48 && !rsn && length >= 2) {
            rsn = ReadSuites(body, length, kRsnOui, true);
        } else if (id == 221 && !wpa && length >= 6 && std::memcmp(body, kWpaOui, 3) == 0 &&
                   body[3] == 1) {
            wpa = ReadSuites(body + 4, length - 4, kWpaOui, false);
        }
    });
    if (rsn) return *rsn;
    if (wpa) return *wpa;
    constexpr uint16_t kPrivacy = 0x0010;
    return {kAuthOpen, (capability & kPrivacy) != 0 ? kCipherWep : kCipherNone};
}

WlanInterfaceInfo InterfaceInfoOf(const WifiInterface& interface) {
    return {std::to_string(interface.ifindex), interface.name, interface.ssid.has_value()};
}

WlanBssEntry BssEntryOf(const WifiBss& bss) {
    WlanBssEntry out;
    out.ssid = bss.ssid;
    out.bssid = bss.bssid;
    out.centerFrequencyKhz = bss.frequencyKhz;
    if (bss.signalDbm) {
        out.rssiDbm = *bss.signalDbm;
        out.linkQuality = SignalQualityFromDbm(*bss.signalDbm);
    } else if (bss.signalPercent) {
        out.linkQuality = *bss.signalPercent;
        out.rssiDbm = int32_t(*bss.signalPercent) / 2 - 100;
    }
    out.informationElements = bss.elements;
    return out;
}

namespace {

const WifiStation* StationOf(const std::vector<WifiStation>& stations, const WifiBss* bss) {
    if (bss != nullptr) {
        for (const WifiStation& station : stations) {
            if (station.address == bss->bssid) return &station;
        }
    }
    // A multi-link access point answers under its device address, not a link's.
    return stations.empty() ? nullptr : &stations.front();
}

}  // namespace

std::optional<WlanConnection> ConnectionOf(const WifiInterface& interface,
                                           const std::vector<WifiBss>& scan,
                                           const std::vector<WifiStation>& stations) {
    const WifiBss* bss = nullptr;
    for (const WifiBss& entry : scan) {
        if (entry.associated) {
            bss = &entry;
            break;
        }
    }
    if (interface.iftype != NL80211_IFTYPE_STATION) return std::nullopt;
    if (!interface.ssid && bss == nullptr) return std::nullopt;
    const WifiStation* station = StationOf(stations, bss);
    WlanConnection out;
    // A hidden network's beacon names nothing; the interface knows the name it joined.
    out.ssid = interface.ssid && !interface.ssid->empty() ? *interface.ssid
               : bss != nullptr                           ? bss->ssid
                                                          : std::vector<uint8_t>{};
    if (bss != nullptr) {
        out.bssid = bss->bssid;
    } else if (station != nullptr) {
        out.bssid = station->address;
    }
    if (station != nullptr && station->signalDbm) {
        out.signalQuality = SignalQualityFromDbm(*station->signalDbm);
    } else if (bss != nullptr && bss->signalDbm) {
        out.signalQuality = SignalQualityFromDbm(*bss->signalDbm);
    } else if (bss != nullptr && bss->signalPercent) {
        out.signalQuality = *bss->signalPercent;
    }
    uint32_t frequency = bss != nullptr ? bss->frequencyKhz / 1000 : interface.frequencyMhz;
    if (frequency == 0 && !interface.links.empty())
        frequency = interface.links.front().frequencyMhz;
    if (station != nullptr) {
        out.phyType = PhyTypeOfLink(station->rx, station->tx, frequency);
        out.rxRateKbps = station->rx ? station->rx->kbps : 0;
        out.txRateKbps = station->tx ? station->tx->kbps : 0;
    }
    if (bss != nullptr) {
        const WifiSecurity security =
            SecurityOfElements(bss->elements.data(), bss->elements.size(), bss->capability);
        out.authAlgorithm = security.authAlgorithm;
        out.cipherAlgorithm = security.cipherAlgorithm;
    }
    return out;
}

std::optional<WlanRealtimeQuality> RealtimeQualityOf(const WifiInterface& interface,
                                                     const std::vector<WifiStation>& stations) {
    WlanRealtimeQuality out;
    if (!interface.links.empty()) {
        // Per-link signal is not in the station's answer on every kernel; links carry none.
        out.isMultiLink = true;
        for (const WifiLinkChannel& link : interface.links) {
            out.links.push_back({link.linkId, link.frequencyMhz, link.widthMhz, 0});
        }
        return out;
    }
    if (interface.frequencyMhz == 0) return std::nullopt;
    const WifiStation* station = StationOf(stations, nullptr);
    const int32_t rssi = station != nullptr ? station->signalDbm.value_or(0) : 0;
    out.links.push_back({0, interface.frequencyMhz, interface.widthMhz, rssi});
    return out;
}

}  // namespace quillon::lnx
