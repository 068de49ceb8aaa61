// The reading (and writing) of nl80211 over generic netlink for the Linux WLAN adapter, kept
// apart from the socket so that unit tests and the fuzzer reach it: requests as bytes out,
// received datagrams in, the Wlan port's records out. Pure functions over untrusted bytes: every
// length is checked against what is left, whatever the headers say; any thread.
//
// The kernel's answers are turned into the Windows WLAN vocabulary the port keeps:
//   - signal quality from dBm the way Windows reports it: -100 dBm is 0, -50 dBm is 100,
//     linear in between, clamped;
//   - the PHY type from the rate of the link (HT, VHT, HE, EHT flags; a legacy rate on
//     2.4 GHz above 11 Mbit/s is ERP, else HR/DSSS; elsewhere OFDM), the stronger of the
//     receive and transmit rates;
//   - authentication and pairwise cipher from the connected access point's RSN element, else its
//     WPA vendor element, else open (with WEP when the capability's privacy bit is set). Where
//     the access point offers several key managements or ciphers, the strongest is taken, as
//     current clients choose it: a WPA2/WPA3 transition network counts as WPA3-Personal.
//     802.1X with SHA-256 (AKM 5) is WPA3-Enterprise (value 11), the value Windows uses for
//     it; the fast-transition (FT) and SHA-256 forms of PSK, SAE and 802.1X count as the plain
//     ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/wlan.h"

namespace quillon::lnx {

// ---- Netlink framing ----

struct NetlinkAttribute {
    uint16_t type = 0;  // without the nested and byte-order flags
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The attributes in a byte range, in order. An attribute shorter than its own header or longer
// than what is left ends the list (those before it are kept).
std::vector<NetlinkAttribute> ReadAttributes(const uint8_t* data, size_t size);
inline std::vector<NetlinkAttribute> ReadAttributes(const NetlinkAttribute& nested) {
    return ReadAttributes(nested.data, nested.size);
}
// The first attribute of `type`, or null.
const NetlinkAttribute* FindAttribute(const std::vector<NetlinkAttribute>& list, uint16_t type);

// One generic-netlink message of an answer: its command and its attribute bytes (copied, since
// the receive buffer is reused).
struct GenlMessage {
    uint8_t command = 0;
    std::vector<uint8_t> attributes;
};

// The answer to one request, gathered datagram by datagram.
struct NetlinkReply {
    std::vector<GenlMessage> messages;
    bool finished = false;  // NLMSG_DONE, an acknowledgement or an error arrived
    int error = 0;          // the errno the kernel answered; 0 when it succeeded
};

// Adds what one received datagram says about the request numbered `sequence`: its messages, and
// whether the answer ended (NLMSG_DONE of a dump, the acknowledgement, NLMSG_ERROR). Messages of
// other sequence numbers are skipped; a header that runs past the end stops the reading; nothing
// is read after the end of the answer.
void CollectReply(const uint8_t* data, size_t size, uint32_t sequence, NetlinkReply& reply);

// A generic-netlink request being written: the netlink header, the command, then attributes.
class GenlRequest {
public:
    GenlRequest(uint16_t family, uint16_t flags, uint32_t sequence, uint8_t command,
                uint8_t version);
    void AddU32(uint16_t type, uint32_t value);
    void AddBytes(uint16_t type, const void* data, size_t size);
    void AddString(uint16_t type, const std::string& text);  // with its terminating zero
    // Attributes added between Begin and End are nested in one of `type`.
    size_t BeginNested(uint16_t type);
    void EndNested(size_t start);
    // The whole message, its length set.
    const std::vector<uint8_t>& Bytes();

private:
    std::vector<uint8_t> bytes_;
};

// The family id of a CTRL_CMD_GETFAMILY answer.
std::optional<uint16_t> FamilyIdFromAnswer(const GenlMessage& message);

// ---- nl80211 answers ----

struct WifiLinkChannel {
    uint32_t linkId = 0;
    uint32_t frequencyMhz = 0;
    uint32_t widthMhz = 0;
};

// One NL80211_CMD_GET_INTERFACE answer.
struct WifiInterface {
    uint32_t ifindex = 0;
    std::string name;
    uint32_t iftype = 0;                       // NL80211_IFTYPE_*
    std::optional<std::vector<uint8_t>> ssid;  // a station's, present while it is connected
    uint32_t frequencyMhz = 0;                 // 0 when the interface is on no channel
    uint32_t widthMhz = 0;
    std::vector<WifiLinkChannel> links;  // of a multi-link connection
};
// Nothing without an interface index (a device without a network interface).
std::optional<WifiInterface> ParseInterface(const GenlMessage& message);

// One entry of an NL80211_CMD_GET_SCAN dump.
struct WifiBss {
    MacAddress bssid{};
    uint32_t frequencyKhz = 0;
    std::optional<int32_t> signalDbm;
    std::optional<uint32_t> signalPercent;  // drivers that cannot say dBm give 0..100
    uint16_t capability = 0;
    bool associated = false;
    std::vector<uint8_t> ssid;      // from the SSID element
    std::vector<uint8_t> elements;  // as received (probe response, else beacon)
};
// Nothing without a BSS carrying a BSSID.
std::optional<WifiBss> ParseBss(const GenlMessage& message);

struct WifiRate {
    uint32_t kbps = 0;
    uint32_t phyType = 0;  // 7 HT, 8 VHT, 10 HE, 11 EHT; 0 for a legacy rate
};

// One NL80211_CMD_GET_STATION answer: the access point, seen from a client.
struct WifiStation {
    MacAddress address{};
    std::optional<int32_t> signalDbm;
    std::optional<WifiRate> rx, tx;
};
// Nothing without an address.
std::optional<WifiStation> ParseStation(const GenlMessage& message);

// ---- The port's records ----

uint32_t SignalQualityFromDbm(int32_t dbm);
std::optional<uint32_t> ChannelOfFrequency(uint32_t mhz);
uint32_t PhyTypeOfLink(const std::optional<WifiRate>& rx, const std::optional<WifiRate>& tx,
                       uint32_t frequencyMhz);

struct WifiSecurity {
    uint32_t authAlgorithm = 0;
    uint32_t cipherAlgorithm = 0;
};
// From an access point's information elements and its capability field.
WifiSecurity SecurityOfElements(const uint8_t* data, size_t size, uint16_t capability);

WlanInterfaceInfo InterfaceInfoOf(const WifiInterface& interface);
WlanBssEntry BssEntryOf(const WifiBss& bss);
// Nothing when the interface is not connected.
std::optional<WlanConnection> ConnectionOf(const WifiInterface& interface,
                                           const std::vector<WifiBss>& scan,
                                           const std::vector<WifiStation>& stations);
// Nothing when the interface is on no channel.
std::optional<WlanRealtimeQuality> RealtimeQualityOf(const WifiInterface& interface,
                                                     const std::vector<WifiStation>& stations);

}  // namespace quillon::lnx
