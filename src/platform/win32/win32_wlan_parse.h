// Reading what the WLAN API hands back (interface lists, connection attributes, the channel
// number, BSS lists with their information elements, the real-time connection quality) into the
// Wlan port's records, kept apart from the calls so that unit tests reach it with byte images
// built in the test. Pure functions over the system's bytes: every count, offset
// and length is checked against the bytes given, whatever the structure says; any thread.
//
// The real-time connection quality (wlan_intf_opcode_realtime_connection_quality) is newer than
// MinGW's wlanapi.h, so its opcode and structures are declared here from Microsoft's public
// documentation, their layout pinned below; older systems refuse the query.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// clang-format off
#include <windows.h>
#include <wlanapi.h>
// clang-format on

#include "platform/wlan.h"

namespace quillon::win32 {

// ---- Declarations missing from MinGW's wlanapi.h ----

// The WLAN_INTF_OPCODE value after wlan_intf_opcode_secondary_sta_synchronized_connections.
constexpr WLAN_INTF_OPCODE kOpcodeRealtimeConnectionQuality = static_cast<WLAN_INTF_OPCODE>(19);

// WLAN_REALTIME_CONNECTION_QUALITY_LINK_INFO.
struct RealtimeConnectionQualityLink {
    UCHAR ucLinkID;
    ULONG ulChannelCenterFrequencyMhz;
    ULONG ulBandwidth;  // MHz
    LONG lRssi;         // dBm
    WLAN_RATE_SET wlanRateSet;
};

// WLAN_REALTIME_CONNECTION_QUALITY: a header, then ulNumLinks link records.
struct RealtimeConnectionQuality {
    DOT11_PHY_TYPE dot11PhyType;
    ULONG ulLinkQuality;
    ULONG ulRxRate;
    ULONG ulTxRate;
    BOOL bIsMLOConnection;
    ULONG ulNumLinks;
    RealtimeConnectionQualityLink linksInfo[1];
};

static_assert(sizeof(WLAN_RATE_SET) == 256);
static_assert(offsetof(RealtimeConnectionQualityLink, ulChannelCenterFrequencyMhz) == 4);
static_assert(offsetof(RealtimeConnectionQualityLink, wlanRateSet) == 16);
static_assert(sizeof(RealtimeConnectionQualityLink) == 272);
static_assert(offsetof(RealtimeConnectionQuality, ulNumLinks) == 20);
static_assert(offsetof(RealtimeConnectionQuality, linksInfo) == 24);
static_assert(sizeof(RealtimeConnectionQuality) == 296);

// ---- Interface ids ----

// An interface GUID as the port's opaque id: "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in
// upper-case hex, the registry's form.
std::string GuidText(const GUID& guid);
// Nothing unless the text is exactly that form (either case).
std::optional<GUID> GuidFromText(const std::string& text);

// ---- The API's answers ----

// A WLAN_INTERFACE_INFO_LIST. Entries that do not fit in `size` are not read.
std::vector<WlanInterfaceInfo> InterfacesOf(const uint8_t* data, size_t size);

// A WLAN_CONNECTION_ATTRIBUTES block; nothing when it is shorter than the structure.
std::optional<WlanConnection> ConnectionOf(const uint8_t* data, size_t size);

// The ULONG answer to wlan_intf_opcode_channel_number; nothing when shorter.
std::optional<uint32_t> ChannelOf(const uint8_t* data, size_t size);

// A WLAN_BSS_LIST. Only the bytes within both `size` and the list's own dwTotalSize are read:
// entries beyond them are dropped, and an entry's element blob (at ulIeOffset from the entry,
// ulIeSize long) is cut where those bytes end, so a truncated last element stays visible as
// such to the element parser.
std::vector<WlanBssEntry> BssEntriesOf(const uint8_t* data, size_t size);

// A RealtimeConnectionQuality answer; nothing when it is shorter than the header and one link
// record. Links are those of ulNumLinks whose records lie within `size`.
std::optional<WlanRealtimeQuality> RealtimeQualityOf(const uint8_t* data, size_t size);

}  // namespace quillon::win32
