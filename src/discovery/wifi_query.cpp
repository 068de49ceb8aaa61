#include "discovery/wifi_query.h"

#include <vector>

#include "discovery/address_text.h"
#include "discovery/wifi_elements.h"

namespace quillon {

namespace {

uint32_t FrequencyMhz(const WlanBssEntry& entry) {
    return entry.centerFrequencyKhz / 1000;
}
int32_t EntryChannel(const WlanBssEntry& entry) {
    return ChannelFromFrequency(FrequencyMhz(entry));
}

// Among the entries that pass `keep`, the one on `channel` with the highest frequency (the first
// of equals); null when none is on it.
template <class Keep>
const WlanBssEntry* HighestOnChannel(const std::vector<WlanBssEntry>& list, int32_t channel,
                                     Keep keep) {
    const WlanBssEntry* best = nullptr;
    for (const WlanBssEntry& entry : list) {
        if (!keep(entry) || EntryChannel(entry) != channel) continue;
        if (best == nullptr || FrequencyMhz(entry) > FrequencyMhz(*best)) best = &entry;
    }
    return best;
}

// The connected access point's entry: by address in the full list, else by network name in the
// network's own list, else by name in the full list.
const WlanBssEntry* FindConnectedEntry(WlanClient& client, const std::string& interfaceId,
                                       const WlanConnection& connection, const WifiDetails& wifi,
                                       int32_t reportedChannel,
                                       const std::vector<WlanBssEntry>* full,
                                       std::vector<WlanBssEntry>& ssidList) {
    if (full != nullptr) {
        for (const WlanBssEntry& entry : *full) {
            if (entry.bssid == connection.bssid) return &entry;
        }
    }
    if (!wifi.ssid.empty()) {
        std::vector<uint8_t> name = connection.ssid;
        if (name.size() > 32) name.resize(32);
        if (client.BssList(interfaceId, &name, ssidList)) {
            for (const WlanBssEntry& entry : ssidList) {
                if (entry.bssid == connection.bssid) return &entry;
            }
            if (reportedChannel != 0) {
                const auto any = [](const WlanBssEntry&) { return true; };
                if (const auto* e = HighestOnChannel(ssidList, reportedChannel, any)) return e;
            } else if (!ssidList.empty()) {
                return &ssidList.front();
            }
        }
    }
    if (full != nullptr && !wifi.ssid.empty()) {
        const auto sameName = [&](const WlanBssEntry& e) {
            return !e.ssid.empty() && SsidText(e.ssid) == wifi.ssid;
        };
        if (reportedChannel >= 1) {
            if (const auto* e = HighestOnChannel(*full, reportedChannel, sameName)) return e;
        }
        for (const WlanBssEntry& entry : *full) {
            if (sameName(entry)) return &entry;
        }
    }
    return nullptr;
}

bool ValidLink(const WlanRealtimeLink& link) {
    return link.frequencyMhz >= 2401 && link.frequencyMhz <= 7199 && link.bandwidthMhz >= 1 &&
           link.bandwidthMhz <= 320;
}

void AppendMloLink(WifiDetails& wifi, int32_t channel, uint32_t frequency, uint32_t width) {
    MloLink& link = wifi.mloLinks[wifi.mloLinkCount++];
    link = {channel, frequency, BandFromFrequency(frequency), width};
}

// Other links of a multi-link connection, from the beacons of the same network on other
// channels that belong to the same multi-link device.
void MloLinksFromBeacons(WifiDetails& wifi, const std::vector<WlanBssEntry>& full) {
    wifi.mloLinkCount = 0;
    AppendMloLink(wifi, wifi.channel, wifi.frequency, wifi.channelWidth);
    for (const WlanBssEntry& entry : full) {
        if (wifi.mloLinkCount >= kMaxMloLinks) break;
        if (entry.ssid.empty() || SsidText(entry.ssid) != wifi.ssid) continue;
        if (EntryChannel(entry) == wifi.channel) continue;
        const BssIeSummary summary = ParseBssInformationElements(entry.informationElements);
        if (!summary.isMlo) continue;
        if (!summary.mldAddress.empty() && summary.mldAddress != wifi.bssid) continue;
        AppendMloLink(wifi, EntryChannel(entry), FrequencyMhz(entry), summary.channelWidth);
    }
}

void ApplyRealtimeQuality(WifiDetails& wifi, const WlanRealtimeQuality& quality) {
    if (!quality.links.empty() && ValidLink(quality.links.front())) {
        const WlanRealtimeLink& first = quality.links.front();
        wifi.frequency = first.frequencyMhz;
        wifi.channel = ChannelFromFrequency(first.frequencyMhz);
        wifi.band = BandFromFrequency(first.frequencyMhz);
        wifi.channelWidth = first.bandwidthMhz;
    }
    if (quality.isMultiLink && quality.links.size() >= 2 && quality.links.size() <= 4) {
        wifi.isMlo = true;
        wifi.mloLinkCount = 0;
        wifi.mloLinks = {};
        for (const WlanRealtimeLink& link : quality.links) {
            if (wifi.mloLinkCount >= kMaxMloLinks) break;
            if (!ValidLink(link)) continue;
            AppendMloLink(wifi, ChannelFromFrequency(link.frequencyMhz), link.frequencyMhz,
                          link.bandwidthMhz);
        }
    }
}

}  // namespace

WifiDetails QueryWifiDetails(WlanClient* client) {
    WifiDetails wifi;
    if (client == nullptr) return wifi;
    std::vector<WlanInterfaceInfo> interfaces;
    if (!client->ListInterfaces(interfaces)) return wifi;
    const WlanInterfaceInfo* connectedInterface = nullptr;
    for (const WlanInterfaceInfo& candidate : interfaces) {
        if (candidate.connected) {
            connectedInterface = &candidate;
            break;
        }
    }
    if (connectedInterface == nullptr) return wifi;
    const std::string& id = connectedInterface->id;

    const std::optional<WlanConnection> connection = client->CurrentConnection(id);
    if (connection) {
        wifi.connected = true;
        wifi.ssid = SsidText(connection->ssid);
        wifi.signalQuality = connection->signalQuality;
        wifi.signalStrength = SignalStrengthFromQuality(connection->signalQuality);
        wifi.bssid = FormatMac(connection->bssid);
        wifi.phyType = PhyTypeName(connection->phyType);
        wifi.authentication = AuthenticationName(connection->authAlgorithm);
        wifi.cipher = CipherName(connection->cipherAlgorithm);
        wifi.rxRate = connection->rxRateKbps / 1000.0;
        wifi.txRate = connection->txRateKbps / 1000.0;
    }
    const int32_t reportedChannel = int32_t(client->Channel(id).value_or(0));

    std::vector<WlanBssEntry> fullList, ssidList;
    const bool haveFull = client->BssList(id, nullptr, fullList);
    const std::vector<WlanBssEntry>* full = haveFull ? &fullList : nullptr;

    // Without a connection there is no address or name to look for.
    const WlanBssEntry* entry = connection ? FindConnectedEntry(*client, id, *connection, wifi,
                                                                reportedChannel, full, ssidList)
                                           : nullptr;
    if (entry != nullptr) {
        wifi.frequency = FrequencyMhz(*entry);
        wifi.band = BandFromFrequency(wifi.frequency);
        wifi.channel = ChannelFromFrequency(wifi.frequency);
        const BssIeSummary summary = ParseBssInformationElements(entry->informationElements);
        wifi.channelWidth = summary.channelWidth;
        wifi.stationCount = summary.stationCount;
        wifi.channelUtilization = summary.channelUtilization;
        wifi.spatialStreams = summary.spatialStreams;
        wifi.muMimo = summary.muMimo;
        wifi.countryCode = summary.countryCode;
        wifi.isMlo = summary.isMlo;
    } else if (reportedChannel > 0) {
        wifi.channel = reportedChannel;
    }

    if (wifi.isMlo && full != nullptr) MloLinksFromBeacons(wifi, *full);

    if (const auto quality = client->RealtimeQuality(id)) ApplyRealtimeQuality(wifi, *quality);

    if (full != nullptr && wifi.channel >= 1) {
        for (const WlanBssEntry& other : *full) {
            if (FormatMac(other.bssid) == wifi.bssid) continue;
            ++wifi.neighborAPs;
            if (EntryChannel(other) == wifi.channel) ++wifi.coChannelAPs;
        }
    }
    return wifi;
}

WifiLink::WifiLink(Wlan& wlan) : client_(wlan.Open()) {
    if (!client_) return;
    std::vector<WlanInterfaceInfo> interfaces;
    if (!client_->ListInterfaces(interfaces)) return;
    for (const WlanInterfaceInfo& interface : interfaces) {
        if (interface.connected) client_->RequestScan(interface.id);
    }
}

}  // namespace quillon
