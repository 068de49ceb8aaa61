// The WLAN adapter: the API's answers read from byte images built here the way the system lays
// them out, then the real client under Wine, which has the WLAN service but no interfaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "discovery/wifi_query.h"
#include "platform/win32/win32_wlan.h"
#include "platform/win32/win32_wlan_parse.h"

namespace quillon::win32 {
namespace {

template <class T>
void Put(std::vector<uint8_t>& bytes, size_t at, const T& value) {
    if (bytes.size() < at + sizeof(T)) bytes.resize(at + sizeof(T));
    std::memcpy(bytes.data() + at, &value, sizeof(T));
}

DOT11_SSID Ssid(const std::string& name, ULONG length) {
    DOT11_SSID ssid{};
    std::memcpy(ssid.ucSSID, name.data(), std::min<size_t>(name.size(), 32));
    ssid.uSSIDLength = length;
    return ssid;
}

const GUID kGuid = {0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

TEST(Win32WlanParse, InterfaceIdsAndLists) {
    EXPECT_EQ(GuidText(kGuid), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
    const auto back = GuidFromText("{01234567-89ab-cdef-0123-456789abcdef}");
    ASSERT_TRUE(back);
    EXPECT_EQ(std::memcmp(&*back, &kGuid, sizeof(GUID)), 0);
    for (const char* bad :
         {"01234567-89AB-CDEF-0123-456789ABCDEF", "{01234567-89AB-CDEF+0123-456789ABCDEF}",
          "{0123456G-89AB-CDEF-0123-456789ABCDEF}"}) {
        EXPECT_FALSE(GuidFromText(bad)) << bad;
    }

    WLAN_INTERFACE_INFO connected{};
    connected.InterfaceGuid = kGuid;
    std::wcscpy(connected.strInterfaceDescription, L"Caf\u00e9 wireless adapter");
    connected.isState = wlan_interface_state_connected;
    WLAN_INTERFACE_INFO idle{};
    idle.InterfaceGuid = GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    std::fill(std::begin(idle.strInterfaceDescription), std::end(idle.strInterfaceDescription),
              L'x');  // fills the array: no terminator
    idle.isState = wlan_interface_state_disconnected;
    std::vector<uint8_t> list;
    Put(list, 0, DWORD(2));
    Put(list, 8, connected);
    Put(list, 8 + sizeof(WLAN_INTERFACE_INFO), idle);

    auto interfaces = InterfacesOf(list.data(), list.size());
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].id, "{01234567-89AB-CDEF-0123-456789ABCDEF}");
    EXPECT_EQ(interfaces[0].description, "Caf\xC3\xA9 wireless adapter");
    EXPECT_TRUE(interfaces[0].connected);
    EXPECT_EQ(interfaces[1].id, "{00000001-0002-0003-0405-060708090A0B}");
    EXPECT_EQ(interfaces[1].description, std::string(256, 'x'));
    EXPECT_FALSE(interfaces[1].connected);

    // A count larger than the bytes: only whole entries are read.
    Put(list, 0, DWORD(1000));
    EXPECT_EQ(InterfacesOf(list.data(), list.size() - 1).size(), 1u);
    EXPECT_TRUE(InterfacesOf(list.data(), 7).empty());
}

TEST(Win32WlanParse, ConnectionAttributesAndChannel) {
    WLAN_CONNECTION_ATTRIBUTES attributes{};
    attributes.isState = wlan_interface_state_connected;
    WLAN_ASSOCIATION_ATTRIBUTES& association = attributes.wlanAssociationAttributes;
    association.dot11Ssid = Ssid("HomeNet", 7);
    const uint8_t bssid[6] = {0xA4, 0x2B, 0xB0, 0x01, 0x02, 0xFE};
    std::memcpy(association.dot11Bssid, bssid, 6);
    association.dot11PhyType = static_cast<DOT11_PHY_TYPE>(8);  // VHT, newer than MinGW's enum
    association.wlanSignalQuality = 77;
    association.ulRxRate = 866700;
    association.ulTxRate = 650000;
    attributes.wlanSecurityAttributes.dot11AuthAlgorithm = DOT11_AUTH_ALGO_RSNA_PSK;
    attributes.wlanSecurityAttributes.dot11CipherAlgorithm = DOT11_CIPHER_ALGO_CCMP;
    std::vector<uint8_t> block;
    Put(block, 0, attributes);

    auto connection = ConnectionOf(block.data(), block.size());
    ASSERT_TRUE(connection);
    EXPECT_EQ(connection->ssid, std::vector<uint8_t>({'H', 'o', 'm', 'e', 'N', 'e', 't'}));
    EXPECT_EQ(connection->bssid, (MacAddress{0xA4, 0x2B, 0xB0, 0x01, 0x02, 0xFE}));
    EXPECT_EQ(connection->phyType, 8u);
    EXPECT_EQ(connection->signalQuality, 77u);
    EXPECT_EQ(connection->authAlgorithm, 7u);
    EXPECT_EQ(connection->cipherAlgorithm, 4u);
    EXPECT_EQ(connection->rxRateKbps, 866700u);
    EXPECT_EQ(connection->txRateKbps, 650000u);
    EXPECT_FALSE(ConnectionOf(block.data(), block.size() - 1));

    const std::string longest(32, 'n');
    for (ULONG length : {32u, 0u, 200u}) {  // 200: a length the buffer cannot hold
        attributes.wlanAssociationAttributes.dot11Ssid = Ssid(longest, length);
        Put(block, 0, attributes);
        connection = ConnectionOf(block.data(), block.size());
        ASSERT_TRUE(connection);
        EXPECT_EQ(connection->ssid.size(), std::min<size_t>(length, 32)) << length;
    }

    const uint8_t channel[4] = {149, 0, 0, 0};
    EXPECT_EQ(ChannelOf(channel, 4), 149u);
    EXPECT_FALSE(ChannelOf(channel, 3));
}

WLAN_BSS_ENTRY Bss(const std::string& name, uint8_t lastByte, ULONG frequencyKhz, LONG rssi) {
    WLAN_BSS_ENTRY entry{};
    entry.dot11Ssid = Ssid(name, ULONG(name.size()));
    const uint8_t bssid[6] = {0x02, 0x11, 0x22, 0x33, 0x44, lastByte};
    std::memcpy(entry.dot11Bssid, bssid, 6);
    entry.ulChCenterFrequency = frequencyKhz;
    entry.lRssi = rssi;
    entry.uLinkQuality = static_cast<ULONG>(2 * (rssi + 100));
    return entry;
}

// A list as the system lays it out: the entries, then each entry's elements after all of them.
std::vector<uint8_t> BssList(std::vector<WLAN_BSS_ENTRY> entries,
                             const std::vector<std::vector<uint8_t>>& elements) {
    std::vector<uint8_t> bytes(8 + entries.size() * sizeof(WLAN_BSS_ENTRY));
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].ulIeOffset = ULONG(bytes.size() - (8 + i * sizeof(WLAN_BSS_ENTRY)));
        entries[i].ulIeSize = ULONG(elements[i].size());
        bytes.insert(bytes.end(), elements[i].begin(), elements[i].end());
        Put(bytes, 8 + i * sizeof(WLAN_BSS_ENTRY), entries[i]);
    }
    Put(bytes, 0, DWORD(bytes.size()));
    Put(bytes, 4, DWORD(entries.size()));
    return bytes;
}

TEST(Win32WlanParse, BssListsWithTheirElements) {
    const std::vector<uint8_t> first = {0,   7,  'H', 'o', 'm', 'e', 'N', 'e',
                                        't', 11, 5,   3,   0,   128, 0,   0};
    const std::vector<uint8_t> second = {0, 0, 7, 3, 'D', 'E', 0x20};
    auto list =
        BssList({Bss("HomeNet", 1, 5180000, -48), Bss("", 2, 2437000, -81)}, {first, second});

    auto entries = BssEntriesOf(list.data(), list.size());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].ssid.size(), 7u);
    EXPECT_EQ(entries[0].bssid, (MacAddress{0x02, 0x11, 0x22, 0x33, 0x44, 0x01}));
    EXPECT_EQ(entries[0].centerFrequencyKhz, 5180000u);
    EXPECT_EQ(entries[0].rssiDbm, -48);
    EXPECT_EQ(entries[0].linkQuality, 104u);
    EXPECT_EQ(entries[0].informationElements, first);
    EXPECT_TRUE(entries[1].ssid.empty());  // a hidden network
    EXPECT_EQ(entries[1].centerFrequencyKhz, 2437000u);
    EXPECT_EQ(entries[1].informationElements, second);

    // The last blob claims more than the list holds: cut where the list ends.
    const size_t secondAt = 8 + sizeof(WLAN_BSS_ENTRY);
    Put(list, secondAt + offsetof(WLAN_BSS_ENTRY, ulIeSize), ULONG(4000));
    entries = BssEntriesOf(list.data(), list.size());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].informationElements, second);
    // ... or starts past its end: no elements, the entry stays.
    Put(list, secondAt + offsetof(WLAN_BSS_ENTRY, ulIeOffset), ULONG(list.size()));
    entries = BssEntriesOf(list.data(), list.size());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_TRUE(entries[1].informationElements.empty());

    // The list's own total size bounds it, whatever the buffer or the count says: a total that
    // ends inside the second entry drops it, and the first entry's elements, past it, are gone.
    Put(list, 0, DWORD(secondAt + 100));
    entries = BssEntriesOf(list.data(), list.size());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].informationElements.empty());
    Put(list, 0, DWORD(list.size()));
    Put(list, 4, DWORD(50));
    EXPECT_EQ(BssEntriesOf(list.data(), list.size()).size(), 2u);
    EXPECT_EQ(BssEntriesOf(list.data(), secondAt + 10).size(), 1u);
    EXPECT_TRUE(BssEntriesOf(list.data(), 7).empty());
}

TEST(Win32WlanParse, RealtimeQualityLinks) {
    std::vector<uint8_t> answer;
    RealtimeConnectionQuality header{};
    header.bIsMLOConnection = TRUE;
    header.ulNumLinks = 2;
    Put(answer, 0, header);
    RealtimeConnectionQualityLink link{};
    link.ucLinkID = 1;
    link.ulChannelCenterFrequencyMhz = 5955;
    link.ulBandwidth = 320;
    link.lRssi = -55;
    Put(answer, 24, link);
    link = {2, 5180, 80, -60, {}};
    Put(answer, 24 + 272, link);

    auto quality = RealtimeQualityOf(answer.data(), answer.size());
    ASSERT_TRUE(quality);
    EXPECT_TRUE(quality->isMultiLink);
    ASSERT_EQ(quality->links.size(), 2u);
    EXPECT_EQ(quality->links[0].linkId, 1u);
    EXPECT_EQ(quality->links[0].frequencyMhz, 5955u);
    EXPECT_EQ(quality->links[0].bandwidthMhz, 320u);
    EXPECT_EQ(quality->links[0].rssiDbm, -55);
    EXPECT_EQ(quality->links[1].frequencyMhz, 5180u);

    // Five links claimed, two present: only those are read.
    Put(answer, 20, ULONG(5));
    EXPECT_EQ(RealtimeQualityOf(answer.data(), answer.size())->links.size(), 2u);
    // Shorter than a header and one link: no answer.
    EXPECT_TRUE(RealtimeQualityOf(answer.data(), 296));
    EXPECT_FALSE(RealtimeQualityOf(answer.data(), 295));
}

TEST(Win32Wlan, WineHasTheServiceButNoInterfaces) {
    Win32Wlan wlan;
    // Opened and closed many times, two at once: Wine keeps at most 16 client handles, so a
    // handle left open fails a later round.
    for (int round = 0; round < 40; ++round) {
        auto client = wlan.Open();
        ASSERT_NE(client, nullptr) << "round " << round;
        auto second = wlan.Open();
        ASSERT_NE(second, nullptr) << "round " << round;
        std::vector<WlanInterfaceInfo> interfaces{{"stale", "", true}};
        ASSERT_TRUE(client->ListInterfaces(interfaces));
        EXPECT_TRUE(interfaces.empty());
    }

    auto client = wlan.Open();
    ASSERT_NE(client, nullptr);
    const WifiDetails wifi = QueryWifiDetails(client.get());
    EXPECT_FALSE(wifi.connected);
    EXPECT_EQ(wifi.channel, 0);
    EXPECT_TRUE(wifi.ssid.empty());

    // Ids that name no interface fail cleanly.
    std::vector<WlanBssEntry> entries;
    for (const std::string& id : std::vector<std::string>{"", "wlan0", GuidText(kGuid)}) {
        EXPECT_FALSE(client->RequestScan(id)) << id;
        EXPECT_FALSE(client->CurrentConnection(id)) << id;
        EXPECT_FALSE(client->Channel(id)) << id;
        EXPECT_FALSE(client->RealtimeQuality(id)) << id;
    }
    // Wine exports WlanGetNetworkBssList as a stub that aborts the process: only ids that never
    // reach it.
    EXPECT_FALSE(client->BssList("wlan0", nullptr, entries));
}

}  // namespace
}  // namespace quillon::win32
