// NetworkStateBuilder: writes the "networkState" message, the one JSON text that carries the
// whole picture the page shows: overall status, every hop of the current path with its
// figures, WiFi and public-address details, the five path segments with their statuses and
// details, every traced destination with its end-to-end figures, and the culprit callout with
// the reason behind it. Member order and number formats are part of the page's contract, so
// the text is written member by member with JsonText.
//
// The main window's logic calls BuildNetworkState on the UI thread on every measurement tick
// (after the echo replies are collected), when the window is shown and after a network change,
// and posts the text to the page. Each build queries the WiFi link and the primary adapter
// afresh, runs the diagnosis and its hysteresis, and reads the registry, which the discovery
// worker writes concurrently (the registry and the current path do their own locking). The
// builder itself is used from the UI thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discovery/adapter_discovery.h"
#include "path/current_path.h"
#include "path/diagnosis.h"
#include "path/node_registry.h"
#include "path/state_sources.h"
#include "platform/system.h"

namespace quillon {

class JsonText;
class NetInfo;
class NodeRegistry;

// What the builder reads. The references must outlive the builder; a null source is one that
// knows nothing, and its members are left out of the message.
struct NetworkStateContext {
    System& system;
    NetInfo& netInfo;
    NodeRegistry& registry;
    CurrentPath& currentPath;
    Hysteresis& hysteresis;
    // True while the primary traceroute has not reached its destination; null means reached.
    std::function<bool()> destinationUnreached;
    // Empty while ICMP can be used; otherwise how this computer allows it (the verdict then
    // says that nothing can be measured). Null: always usable.
    std::function<std::string()> icmpBlocked;
    // True when the destination does not answer ping and is judged by the hops before it.
    std::function<bool()> destinationSilent;
    WifiSource* wifi = nullptr;
    PublicIpSource* publicIp = nullptr;
    VendorSource* vendors = nullptr;
    GeoSource* geo = nullptr;
    LldpSource* lldp = nullptr;
    UnifiSource* unifi = nullptr;
};

// An adapter's link speed as shown: "100 Mbps", "10 Gbps", "2.5 Gbps".
std::string LinkSpeedText(uint64_t bitsPerSecond);

class NetworkStateBuilder {
public:
    explicit NetworkStateBuilder(NetworkStateContext context);
    // The context may point at the builder's own stand-in sources: not copyable.
    NetworkStateBuilder(const NetworkStateBuilder&) = delete;
    NetworkStateBuilder& operator=(const NetworkStateBuilder&) = delete;

    // Gathers the inputs and writes the message. Never fails: a missing source leaves its
    // members out.
    std::string BuildNetworkState();

    // Replaces the WiFi source the context named (null: no WiFi). UI thread, between builds.
    void SetWifiSource(WifiSource* wifi) { context_.wifi = wifi != nullptr ? wifi : &noWifi_; }

    // Replaces the vendor source the context named (null: vendors unknown). UI thread, between
    // builds; the source must outlive the builder or be replaced first.
    void SetVendorSource(VendorSource* vendors) {
        context_.vendors = vendors != nullptr ? vendors : &noVendors_;
    }

    // Replaces the location source the same way (null: locations unknown).
    void SetGeoSource(GeoSource* geo) { context_.geo = geo != nullptr ? geo : &noGeo_; }
    // Replaces the wired switch's source the same way (null: no switch shown).
    void SetLldpSource(LldpSource* lldp) { context_.lldp = lldp != nullptr ? lldp : &noLldp_; }
    void SetUnifiSource(UnifiSource* unifi) {
        context_.unifi = unifi != nullptr ? unifi : &noUnifi_;
    }
    // Moves when a source learned something the next build would show (a location arrived).
    uint64_t SourceChanges() { return context_.geo->Changes() + context_.unifi->Changes(); }

    // The adapter tables and the computer's facts are read afresh at most once a minute (each
    // read is a dozen system files); a network change makes the next build read them at once.
    void NetworkChanged() { factsReadAt_ = 0; }
    static constexpr uint64_t kFactsMaxAgeMs = 60000;

    // What the last build concluded. It wants evidence while an impairment is suspected,
    // proven or still shown: the monitor then measures more often.
    const Diagnosis& LastDiagnosis() const { return lastDiagnosis_; }
    const Verdict& LastVerdict() const { return lastVerdict_; }
    bool WantsEvidence() const;
    // Why the callout of the last build says what it says, and since when it has been shown;
    // empty (no trigger, hop -1, time 0) when the last build wrote no callout.
    const VerdictReason& LastReason() const { return lastReason_; }

private:
    // Everything one build reads once and uses in several places.
    struct Inputs {
        WifiDetails wifi;
        AdapterInfo adapter;
        PublicIpInfo publicIp;
        std::shared_ptr<const HopList> path;
        std::vector<HopFigures> figures;    // one per hop of path: the long window
        std::vector<HopEvidence> evidence;  // one per hop of path: the recent echoes
        Verdict verdict;
        std::string gatewayVendor;
        GeoLocation publicGeo;  // looked up while writing the ISP details
        // Who the ISP is: from the public address's AS once it is known, else from the AS of
        // the path's first ISP hop, so that the ISP is named before (or without) STUN.
        struct Provider {
            std::string asn;
            std::string asName;
            const char* source = nullptr;  // "stun" or "path"; null: not known
            int hop = -1;                  // the path's hop it was read from ("path")
        } provider;
    };

    void WriteHops(JsonText& w, const Inputs& in);
    void WriteWifiDetails(JsonText& w, const WifiDetails& wifi);
    void WritePublicIpInfo(JsonText& w, const PublicIpInfo& info);
    void WriteSegments(JsonText& w, Inputs& in);
    void WriteDeviceDetails(JsonText& w, const Inputs& in, const std::string& computerName);
    void WriteWifiLinkDetails(JsonText& w, const WifiDetails& wifi);
    void WriteWiredLinkDetails(JsonText& w, const AdapterInfo& adapter);
    void WriteHomeNetworkDetails(JsonText& w, const Inputs& in);
    void WriteIspDetails(JsonText& w, Inputs& in);
    void WriteServicesDetails(JsonText& w, const Inputs& in);
    void WriteDestinations(JsonText& w);
    // Keeps the reason of the callout written (or none), dated from its first showing.
    void NoteReason(const Callout& callout, bool written);
    void WriteCallout(JsonText& w, const Callout& callout);
    std::string HomeNetworkName(const Inputs& in) const;
    std::string DestinationName() const;

    NetworkStateContext context_;

    // Stand-ins for sources the context leaves null.
    WifiSource noWifi_;
    PublicIpSource noPublicIp_;
    VendorSource noVendors_;
    GeoSource noGeo_;
    LldpSource noLldp_;
    UnifiSource noUnifi_;

    Diagnosis lastDiagnosis_;
    Verdict lastVerdict_;
    VerdictReason lastReason_;
    std::string shownVerdict_;  // what identifies the callout last written; empty: none

    // The facts read at most once a minute, and when.
    struct ComputerFacts {
        AdapterInfo adapter;
        std::string computerName;
        OsVersion os;
        std::string architecture;
        DiskSpace disk;
        MemoryStatus memory;
    };
    const ComputerFacts& Facts();
    ComputerFacts facts_;
    uint64_t factsReadAt_ = 0;

    // The gateway's own description while it is recognised as a UniFi console.
    std::optional<UnifiSystemInfo> unifi_;
};

}  // namespace quillon
