#include "platform/win32/win32_wlan_parse.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "base/standard_numbers.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {

// The documented 64-bit layouts the readers below rely on.
static_assert(sizeof(DOT11_SSID) == 36);
static_assert(sizeof(WLAN_INTERFACE_INFO) == 532);
static_assert(offsetof(WLAN_INTERFACE_INFO_LIST, InterfaceInfo) == 8);
static_assert(offsetof(WLAN_CONNECTION_ATTRIBUTES, wlanAssociationAttributes) == 520);
static_assert(offsetof(WLAN_ASSOCIATION_ATTRIBUTES, dot11Bssid) == 40);
static_assert(offsetof(WLAN_ASSOCIATION_ATTRIBUTES, dot11PhyType) == 48);
static_assert(offsetof(WLAN_ASSOCIATION_ATTRIBUTES, ulTxRate) == 64);
static_assert(offsetof(WLAN_CONNECTION_ATTRIBUTES, wlanSecurityAttributes) == 588);
static_assert(sizeof(WLAN_CONNECTION_ATTRIBUTES) == 604);
static_assert(offsetof(WLAN_BSS_ENTRY, lRssi) == 56);
static_assert(offsetof(WLAN_BSS_ENTRY, ullTimestamp) == 72);
static_assert(offsetof(WLAN_BSS_ENTRY, ulChCenterFrequency) == 92);
static_assert(offsetof(WLAN_BSS_ENTRY, ulIeOffset) == 352);
static_assert(sizeof(WLAN_BSS_ENTRY) == 360);
static_assert(offsetof(WLAN_BSS_LIST, wlanBssEntries) == 8);

namespace {

constexpr size_t kMaxSsid = 32;

// A copy of the structure at `offset`: the system's buffers need not be aligned for us.
template <class T>
T Read(const uint8_t* data, size_t offset) {
    T value;
    std::memcpy(&value, data + offset, sizeof(T));
    return value;
}

std::vector<uint8_t> SsidBytes(const DOT11_SSID& ssid) {
    const size_t length = std::min<size_t>(ssid.uSSIDLength, kMaxSsid);
    return std::vector<uint8_t>(ssid.ucSSID, ssid.ucSSID + length);
}

MacAddress MacOf(const DOT11_MAC_ADDRESS& address) {
    MacAddress mac{};
    std::copy(address, address + mac.size(), mac.begin());
    return mac;
}

}  // namespace

std::string GuidText(const GUID& guid) {
    char text[39];
    std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

std::optional<GUID> GuidFromText(const std::string& text) {
    // Hex digit pairs in the order they are written: 4 + 2 + 2 + 8 bytes.
    constexpr std::string_view kShape = "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (text.size() != kShape.size()) return std::nullopt;
    uint8_t bytes[16];
    size_t count = 0;
    for (size_t i = 0; i < kShape.size(); ++i) {
        if (kShape[i] != 'x') {
            if (text[i] != kShape[i]) return std::nullopt;
            continue;
        }
        const int high = HexDigitValue(text[i]);
        const int low = HexDigitValue(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[count++] = static_cast<uint8_t>(high * 16 + low);
        ++i;
    }
    GUID guid{};
    guid.Data1 = (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) |
                 (uint32_t(bytes[2]) << 8) | bytes[3];
    guid.Data2 = static_cast<uint16_t>((bytes[4] << 8) | bytes[5]);
    guid.Data3 = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
    std::memcpy(guid.Data4, bytes + 8, 8);
    return guid;
}

std::vector<WlanInterfaceInfo> InterfacesOf(const uint8_t* data, size_t size) {
    std::vector<WlanInterfaceInfo> out;
    constexpr size_t kFirst = offsetof(WLAN_INTERFACE_INFO_LIST, InterfaceInfo);
    if (data == nullptr || size < kFirst) return out;
    const DWORD count = Read<DWORD>(data, offsetof(WLAN_INTERFACE_INFO_LIST, dwNumberOfItems));
    const size_t fit = (size - kFirst) / sizeof(WLAN_INTERFACE_INFO);
    for (size_t i = 0; i < std::min<size_t>(count, fit); ++i) {
        const auto info = Read<WLAN_INTERFACE_INFO>(data, kFirst + i * sizeof(WLAN_INTERFACE_INFO));
        // The description fills its array when it is that long: no terminator then.
        const wchar_t* text = info.strInterfaceDescription;
        const size_t length = wcsnlen(text, std::size(info.strInterfaceDescription));
        out.push_back({GuidText(info.InterfaceGuid), Narrow(std::wstring_view(text, length)),
                       info.isState == wlan_interface_state_connected});
    }
    return out;
}

std::optional<WlanConnection> ConnectionOf(const uint8_t* data, size_t size) {
    if (data == nullptr || size < sizeof(WLAN_CONNECTION_ATTRIBUTES)) return std::nullopt;
    const auto attributes = Read<WLAN_CONNECTION_ATTRIBUTES>(data, 0);
    const WLAN_ASSOCIATION_ATTRIBUTES& association = attributes.wlanAssociationAttributes;
    WlanConnection connection;
    connection.ssid = SsidBytes(association.dot11Ssid);
    connection.signalQuality = association.wlanSignalQuality;
    connection.bssid = MacOf(association.dot11Bssid);
    connection.phyType = association.dot11PhyType;
    connection.authAlgorithm = attributes.wlanSecurityAttributes.dot11AuthAlgorithm;
    connection.cipherAlgorithm = attributes.wlanSecurityAttributes.dot11CipherAlgorithm;
    connection.rxRateKbps = association.ulRxRate;
    connection.txRateKbps = association.ulTxRate;
    return connection;
}

std::optional<uint32_t> ChannelOf(const uint8_t* data, size_t size) {
    if (data == nullptr || size < sizeof(ULONG)) return std::nullopt;
    return Read<ULONG>(data, 0);
}

std::vector<WlanBssEntry> BssEntriesOf(const uint8_t* data, size_t size) {
    std::vector<WlanBssEntry> out;
    constexpr size_t kFirst = offsetof(WLAN_BSS_LIST, wlanBssEntries);
    if (data == nullptr || size < kFirst) return out;
    const size_t end =
        std::min<size_t>(size, Read<DWORD>(data, offsetof(WLAN_BSS_LIST, dwTotalSize)));
    if (end < kFirst) return out;
    const DWORD count = Read<DWORD>(data, offsetof(WLAN_BSS_LIST, dwNumberOfItems));
    const size_t fit = (end - kFirst) / sizeof(WLAN_BSS_ENTRY);
    for (size_t i = 0; i < std::min<size_t>(count, fit); ++i) {
        const size_t at = kFirst + i * sizeof(WLAN_BSS_ENTRY);
        const auto bss = Read<WLAN_BSS_ENTRY>(data, at);
        WlanBssEntry entry;
        entry.ssid = SsidBytes(bss.dot11Ssid);
        entry.bssid = MacOf(bss.dot11Bssid);
        entry.centerFrequencyKhz = bss.ulChCenterFrequency;
        entry.rssiDbm = bss.lRssi;
        entry.linkQuality = bss.uLinkQuality;
        const size_t left = end - at;  // at least one entry's size
        if (bss.ulIeOffset < left) {
            const size_t length = std::min<size_t>(bss.ulIeSize, left - bss.ulIeOffset);
            const uint8_t* elements = data + at + bss.ulIeOffset;
            entry.informationElements.assign(elements, elements + length);
        }
        out.push_back(std::move(entry));
    }
    return out;
}

std::optional<WlanRealtimeQuality> RealtimeQualityOf(const uint8_t* data, size_t size) {
    if (data == nullptr || size < sizeof(RealtimeConnectionQuality)) return std::nullopt;
    constexpr size_t kFirst = offsetof(RealtimeConnectionQuality, linksInfo);
    const ULONG count = Read<ULONG>(data, offsetof(RealtimeConnectionQuality, ulNumLinks));
    const size_t fit = (size - kFirst) / sizeof(RealtimeConnectionQualityLink);
    WlanRealtimeQuality quality;
    quality.isMultiLink =
        Read<BOOL>(data, offsetof(RealtimeConnectionQuality, bIsMLOConnection)) != 0;
    for (size_t i = 0; i < std::min<size_t>(count, fit); ++i) {
        const auto link = Read<RealtimeConnectionQualityLink>(
            data, kFirst + i * sizeof(RealtimeConnectionQualityLink));
        quality.links.push_back(
            {link.ucLinkID, link.ulChannelCenterFrequencyMhz, link.ulBandwidth, link.lRssi});
    }
    return quality;
}

}  // namespace quillon::win32
