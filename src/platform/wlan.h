// Wlan: the wireless client of the computer: its interfaces, the current connection, the
// channel, the lists of access points heard (with their raw information elements) and the
// real-time quality of the link. Numbers keep the Windows WLAN vocabulary (PHY types,
// authentication and cipher algorithms) so the core names them the same way everywhere.
// A client is opened and closed on the UI thread and queried there.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net_info.h"

namespace quillon {

struct WlanInterfaceInfo {
    std::string id;  // opaque, passed back to the queries below
    std::string description;
    bool connected = false;
};

struct WlanConnection {
    std::vector<uint8_t> ssid;  // at most 32 bytes, as broadcast
    uint32_t signalQuality = 0;  // 0..100
    MacAddress bssid{};
    uint32_t phyType = 0;          // DOT11_PHY_TYPE numbering
    uint32_t authAlgorithm = 0;    // DOT11_AUTH_ALGORITHM numbering
    uint32_t cipherAlgorithm = 0;  // DOT11_CIPHER_ALGORITHM numbering
    uint32_t rxRateKbps = 0;
    uint32_t txRateKbps = 0;
};

struct WlanBssEntry {
    std::vector<uint8_t> ssid;
    MacAddress bssid{};
    uint32_t centerFrequencyKhz = 0;
    int32_t rssiDbm = 0;
    uint32_t linkQuality = 0;
    std::vector<uint8_t> informationElements;  // raw, as in the beacon or probe response
};

struct WlanRealtimeLink {
    uint32_t linkId = 0;
    uint32_t frequencyMhz = 0;
    uint32_t bandwidthMhz = 0;
    int32_t rssiDbm = 0;
};

struct WlanRealtimeQuality {
    bool isMultiLink = false;
    std::vector<WlanRealtimeLink> links;
};

class WlanClient {
public:
    virtual ~WlanClient() = default;  // closes the client
    virtual bool ListInterfaces(std::vector<WlanInterfaceInfo>& out) = 0;
    // Asks the interface to look for access points; results arrive in later BSS lists.
    virtual bool RequestScan(const std::string& interfaceId) = 0;
    virtual std::optional<WlanConnection> CurrentConnection(const std::string& interfaceId) = 0;
    virtual std::optional<uint32_t> Channel(const std::string& interfaceId) = 0;
    // Access points heard. With an SSID, only that network's (infrastructure) access points.
    virtual bool BssList(const std::string& interfaceId, const std::vector<uint8_t>* ssid,
                         std::vector<WlanBssEntry>& out) = 0;
    // Nothing when the system cannot report per-link quality.
    virtual std::optional<WlanRealtimeQuality> RealtimeQuality(const std::string& interfaceId) = 0;
};

class Wlan {
public:
    virtual ~Wlan() = default;
    // Null when the computer has no wireless service.
    virtual std::unique_ptr<WlanClient> Open() = 0;
};

}  // namespace quillon
