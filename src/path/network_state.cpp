#include "path/network_state.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <string>
#include <utility>

#include "base/log.h"
#include "discovery/address_text.h"
#include "path/json_text.h"
#include "path/node_registry.h"
#include "platform/system.h"

namespace quillon {

namespace {

// A rate as the page shows it: truncated toward zero; 0 for anything no link could report.
int64_t TruncatedRate(double mbps) {
    if (!std::isfinite(mbps) || std::fabs(mbps) >= 9.0e18) return 0;
    return static_cast<int64_t>(mbps);
}

// latencyMs / packetLoss / jitterMs of a hop that has figures.
void WriteFigures(JsonText& w, const HopFigures& f) {
    w.MemberFixed("latencyMs", f.rttMs, 1);
    w.MemberFixed("packetLoss", f.lossPercent, 1);
    w.MemberFixed("jitterMs", f.jitterMs, 1);
}

void BeginSegment(JsonText& w, Segment segment, const std::string& displayName,
                  const char* category, const Verdict& verdict, int order) {
    const char* id = SegmentId(segment);
    const Callout& callout = verdict.callout;
    w.BeginObject();
    w.Member("id", id).Member("type", id).Member("displayName", displayName);
    w.Member("categoryLabel", category).Member("status", StatusText(verdict.StatusOf(segment)));
    w.Member("isCulprit", callout.show && callout.segment == segment);
    w.Member("isVisible", true).Member("displayOrder", order);
    w.Key("details").BeginObject();
}

void EndSegment(JsonText& w) {
    w.EndObject().EndObject();
}

// The path's first hop labelled as the ISP's, with its AS: the ISP before STUN answers.
int FirstIspHop(const HopList& path) {
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i].label == HopLabel::Isp && !path[i].asn.empty()) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

std::string LinkSpeedText(uint64_t bitsPerSecond) {
    const uint64_t mbps = bitsPerSecond / 1'000'000;
    if (mbps < 1000) return std::to_string(mbps) + " Mbps";
    if (mbps % 1000 == 0) return std::to_string(mbps / 1000) + " Gbps";
    return FormatFixed(static_cast<double>(mbps) / 1000.0, 1) + " Gbps";
}

NetworkStateBuilder::NetworkStateBuilder(NetworkStateContext context)
    : context_(std::move(context)) {
    if (!context_.wifi) context_.wifi = &noWifi_;
    if (!context_.publicIp) context_.publicIp = &noPublicIp_;
    if (!context_.vendors) context_.vendors = &noVendors_;
    if (!context_.geo) context_.geo = &noGeo_;
    if (!context_.lldp) context_.lldp = &noLldp_;
    if (!context_.unifi) context_.unifi = &noUnifi_;
}

std::string NetworkStateBuilder::BuildNetworkState() {
    Inputs in;
    in.wifi = context_.wifi->QueryWifiDetails();
    in.adapter = Facts().adapter;
    in.publicIp = context_.publicIp->GetPublicIpInfo();

    // One snapshot of the path and one reading of its figures serve the verdict and every
    // hop written below, so the message never contradicts itself.
    in.path = context_.currentPath.Snapshot();
    const HopList& path = *in.path;
    if (in.publicIp.valid && !(in.publicIp.asn.empty() && in.publicIp.asName.empty())) {
        in.provider = {in.publicIp.asn, in.publicIp.asName, "stun", -1};
    } else if (const int hop = FirstIspHop(path); hop >= 0) {
        in.provider = {path[hop].asn, path[hop].asName, "path", hop};
        // The AS name may have come with a later router of the same AS.
        for (const HopRecord& other : path) {
            if (!in.provider.asName.empty()) break;
            if (other.asn == in.provider.asn) in.provider.asName = other.asName;
        }
    }
    in.figures = GatherFigures(path, context_.registry);
    in.evidence = GatherEvidence(path, context_.registry, context_.hysteresis.Now(),
                                 context_.hysteresis.memory.evidenceSince);
    const bool reached = !(context_.destinationUnreached && context_.destinationUnreached());
    const LinkFacts link{in.wifi.connected, in.wifi.signalQuality, !in.adapter.gatewayIp.empty()};
    const std::string icmpBlocked = context_.icmpBlocked ? context_.icmpBlocked() : "";
    if (!icmpBlocked.empty()) {
        lastDiagnosis_ = Diagnosis{};
        in.verdict = NoIcmpVerdict(link, icmpBlocked);
    } else {
        lastDiagnosis_ = Diagnose(path, in.evidence, reached, context_.hysteresis);
        in.verdict = BuildVerdict(lastDiagnosis_, path.empty(), link, context_.hysteresis);
    }
    lastVerdict_ = in.verdict;

    unifi_.reset();
    if (!in.adapter.gatewayIp.empty() && !in.adapter.gatewayMac.empty()) {
        unifi_ = context_.unifi->Recognised(in.adapter.gatewayIp, in.adapter.gatewayMac);
    }
    if (!in.adapter.gatewayMac.empty()) {
        in.gatewayVendor = context_.vendors->GetVendor(in.adapter.gatewayMac);
    }

    JsonText w;
    w.BeginObject();
    w.Member("type", "networkState");
    w.Member("overallStatus", StatusText(in.verdict.overall));
    WriteHops(w, in);
    if (in.wifi.connected) WriteWifiDetails(w, in.wifi);
    if (in.publicIp.valid) WritePublicIpInfo(w, in.publicIp);
    WriteSegments(w, in);
    WriteDestinations(w);
    const Callout& callout = in.verdict.callout;
    const bool withCallout = callout.show && !callout.title.empty();
    NoteReason(callout, withCallout);
    if (withCallout) WriteCallout(w, callout);
    w.EndObject();
    return w.Take();
}

const NetworkStateBuilder::ComputerFacts& NetworkStateBuilder::Facts() {
    const uint64_t now = context_.hysteresis.Now();
    if (factsReadAt_ != 0 && now - factsReadAt_ < kFactsMaxAgeMs) return facts_;
    factsReadAt_ = now == 0 ? 1 : now;
    System& system = context_.system;
    facts_.adapter = DiscoverPrimaryAdapter(context_.netInfo);
    facts_.computerName = system.ComputerName();
    facts_.os = system.GetOsVersion();
    facts_.architecture = system.Architecture();
    facts_.disk = system.SystemDiskSpace();
    facts_.memory = system.GetMemoryStatus();
    return facts_;
}

bool NetworkStateBuilder::WantsEvidence() const {
    const Diagnosis& d = lastDiagnosis_;
    if (d.unreached) return false;  // nothing to learn by asking more often
    return d.suspected || d.hasIssue || context_.hysteresis.AnyActive() ||
           context_.hysteresis.memory.shown.show;
}

void NetworkStateBuilder::WriteHops(JsonText& w, const Inputs& in) {
    const HopList& path = *in.path;
    w.Key("hops").BeginArray();
    for (size_t i = 0; i < path.size(); ++i) {
        const HopRecord& hop = path[i];
        const HopFigures& f = in.figures[i];
        w.BeginObject();
        w.Member("hopNumber", hop.ttl);
        w.Member("ip", hop.address.IsZero() ? std::string("*") : hop.address.Text());
        if (!hop.hostname.empty()) w.Member("hostname", hop.hostname);
        if (!hop.asn.empty()) {
            w.Member("asn", hop.asn);
            if (!hop.asName.empty()) w.Member("asnName", hop.asName);
        }
        if (hop.address.IsZero()) {
            w.Member("rttMs", 0).Member("loss", 100).Member("jitter", 0);
        } else if (!f.hasFigures) {
            w.Member("rttMs", 0).Member("loss", 0).Member("jitter", 0);
        } else {
            w.MemberFixed("rttMs", f.rttMs, 1);
            w.MemberFixed("loss", f.lossPercent, 1);
            w.MemberFixed("jitter", f.jitterMs, 1);
        }
        w.Member("segment", LabelText(hop.label));
        // The verdict's view of the hop: its segment and its loss over the recent past.
        w.Member("segmentId", SegmentId(SegmentOfHop(path, i)));
        const HopEvidence& e = in.evidence[i];
        if (!hop.address.IsZero() && e.samples > 0) {
            w.MemberFixed("recentLoss", e.LossPercent(), 1);
            w.Member("recentSamples", e.samples);
        }
        w.EndObject();
    }
    w.EndArray();
}

void NetworkStateBuilder::WriteWifiDetails(JsonText& w, const WifiDetails& wifi) {
    w.Key("wifiDetails").BeginObject();
    w.Member("ssid", wifi.ssid).Member("bssid", wifi.bssid);
    w.Member("signalStrength", wifi.signalStrength);
    w.Member("signalQuality", wifi.signalQuality);
    w.Member("channel", wifi.channel);
    w.Member("bandwidth", std::to_string(wifi.channelWidth) + " MHz");
    w.Member("security", wifi.authentication).Member("phyType", wifi.phyType);
    w.Member("txRate", TruncatedRate(wifi.txRate)).Member("rxRate", TruncatedRate(wifi.rxRate));
    w.EndObject();
}

void NetworkStateBuilder::WritePublicIpInfo(JsonText& w, const PublicIpInfo& info) {
    w.Key("publicIpInfo").BeginObject();
    w.Member("ipAddress", info.ipAddress);
    if (!info.hostname.empty()) w.Member("hostname", info.hostname);
    if (!info.asn.empty()) w.Member("asn", "AS" + info.asn);
    if (!info.asName.empty()) w.Member("ispName", info.asName);
    w.Member("port", static_cast<int32_t>(info.port));
    w.EndObject();
}

void NetworkStateBuilder::WriteSegments(JsonText& w, Inputs& in) {
    const Verdict& v = in.verdict;
    const bool pathKnown = !in.path->empty();
    const bool hasGateway = !in.adapter.gatewayIp.empty();
    int order = 0;
    w.Key("segments").BeginArray();

    const std::string computerName = Facts().computerName;
    BeginSegment(w, Segment::Device, computerName, "Client", v, order++);
    WriteDeviceDetails(w, in, computerName);
    EndSegment(w);

    if (in.wifi.connected || hasGateway) {
        std::string name = "Ethernet";
        if (in.wifi.connected) name = in.wifi.ssid.empty() ? std::string("WiFi") : in.wifi.ssid;
        BeginSegment(w, Segment::Connection, name, "Link", v, order++);
        if (in.wifi.connected) {
            WriteWifiLinkDetails(w, in.wifi);
        } else {
            WriteWiredLinkDetails(w, in.adapter);
        }
        EndSegment(w);
    }

    if (hasGateway) {
        BeginSegment(w, Segment::HomeNetwork, HomeNetworkName(in), "Gateway", v, order++);
        WriteHomeNetworkDetails(w, in);
        EndSegment(w);
    }

    const bool ispPresent = in.publicIp.valid || pathKnown;
    if (ispPresent) {
        const std::string name =
            in.provider.asName.empty() ? std::string("Internet") : in.provider.asName;
        BeginSegment(w, Segment::Isp, name, "ISP", v, order++);
        WriteIspDetails(w, in);
        EndSegment(w);
    }

    if (ispPresent && pathKnown) {
        BeginSegment(w, Segment::Services, DestinationName(), "Destination", v, order++);
        WriteServicesDetails(w, in);
        EndSegment(w);
    }

    w.EndArray();
}

void NetworkStateBuilder::WriteDeviceDetails(JsonText& w, const Inputs& in,
                                             const std::string& computerName) {
    const ComputerFacts& facts = Facts();
    const OsVersion& os = facts.os;
    w.Member("hostname", computerName);
    w.Member("os", os.name + " " + os.version);
    w.Member("arch", facts.architecture);
    w.Member("interfaceName", in.adapter.name).Member("localIP", in.adapter.ipv4);
    if (!in.adapter.mac.empty()) {
        w.Member("clientMac", in.adapter.mac);
        const std::string vendor = context_.vendors->GetVendor(in.adapter.mac);
        if (!vendor.empty()) w.Member("clientManufacturer", vendor);
    }

    const DiskSpace& disk = facts.disk;
    double diskUsed = 0;
    int64_t diskTotal = 0, diskFree = 0;
    if (disk.ok && disk.totalBytes != 0) {
        const double total = static_cast<double>(disk.totalBytes);
        diskUsed = (total - static_cast<double>(disk.freeBytesForUser)) / total * 100.0;
        diskTotal = static_cast<int64_t>(disk.totalBytes >> 30);
        diskFree = static_cast<int64_t>(disk.freeBytesForUser >> 30);
    }
    w.MemberFixed("diskUsedPercent", diskUsed, 1);
    w.Member("diskTotalGB", diskTotal).Member("diskFreeGB", diskFree);

    const MemoryStatus& memory = facts.memory;
    double ramUsed = 0;
    int64_t ramTotal = 0, ramAvailable = 0;
    if (memory.ok) {
        ramUsed = memory.loadPercent;
        ramTotal = static_cast<int64_t>(memory.totalPhysicalBytes >> 30);
        ramAvailable = static_cast<int64_t>(memory.availablePhysicalBytes >> 30);
    }
    w.MemberFixed("ramUsedPercent", ramUsed, 1);
    w.Member("ramTotalGB", ramTotal).Member("ramAvailableGB", ramAvailable);
}

void NetworkStateBuilder::WriteWifiLinkDetails(JsonText& w, const WifiDetails& wifi) {
    w.Member("ssid", wifi.ssid).Member("bssid", wifi.bssid);
    if (!wifi.bssid.empty()) {
        const std::string vendor = context_.vendors->GetVendor(wifi.bssid);
        if (!vendor.empty()) w.Member("accessPoint", vendor);
    }
    w.Member("signalStrength", wifi.signalStrength);
    w.Member("signalQuality", wifi.signalQuality);
    w.Member("channel", wifi.channel);
    w.Member("bandwidth", std::to_string(wifi.channelWidth) + " MHz");
    w.Member("txRate", std::to_string(TruncatedRate(wifi.txRate)) + " Mbps");
    w.Member("security", wifi.authentication).Member("phyType", wifi.phyType);
    if (!wifi.band.empty()) w.Member("band", wifi.band);
    if (wifi.frequency > 0) w.Member("frequency", wifi.frequency);
    if (wifi.spatialStreams > 0) w.Member("spatialStreams", wifi.spatialStreams);
    if (wifi.muMimo) w.Member("muMimo", true);
    if (wifi.channelUtilization >= 0) w.Member("channelUtilization", wifi.channelUtilization);
    if (wifi.stationCount >= 0) w.Member("stationCount", wifi.stationCount);
    if (wifi.coChannelAPs > 0) w.Member("coChannelAPs", wifi.coChannelAPs);
    if (wifi.neighborAPs > 0) w.Member("neighborAPs", wifi.neighborAPs);
    if (!wifi.countryCode.empty()) w.Member("countryCode", wifi.countryCode);
    if (wifi.isMlo && wifi.mloLinkCount > 1) {
        // The record holds at most three links; a larger count cannot be backed by entries.
        const uint32_t count = std::min(wifi.mloLinkCount, kMaxMloLinks);
        w.Member("mloLinkCount", count);
        w.Key("mloLinks").BeginArray();
        for (uint32_t i = 0; i < count; ++i) {
            const MloLink& link = wifi.mloLinks[i];
            w.BeginObject();
            w.Member("channel", link.channel).Member("frequency", link.frequency);
            w.Member("band", link.band).Member("channelWidth", link.channelWidth);
            w.EndObject();
        }
        w.EndArray();
    }
}

void NetworkStateBuilder::WriteWiredLinkDetails(JsonText& w, const AdapterInfo& adapter) {
    w.Member("adapterType", "Ethernet").Member("interfaceName", adapter.name);
    if (!adapter.description.empty()) w.Member("adapterName", adapter.description);
    if (adapter.linkSpeed != 0) w.Member("linkSpeed", LinkSpeedText(adapter.linkSpeed));
    if (!adapter.mac.empty()) w.Member("macAddress", adapter.mac);
    if (const auto neighbor = context_.lldp->CurrentNeighbor()) {
        if (!neighbor->systemName.empty()) w.Member("lldpSwitch", neighbor->systemName);
        if (!neighbor->portDescription.empty()) {
            w.Member("lldpPort", neighbor->portDescription);
        } else if (!neighbor->portId.empty()) {
            w.Member("lldpPort", neighbor->portId);
        }
    }
}

std::string NetworkStateBuilder::HomeNetworkName(const Inputs& in) const {
    if (unifi_) {
        if (!unifi_->model.empty()) return unifi_->model;
        if (!unifi_->name.empty()) return unifi_->name;
    } else if (!in.gatewayVendor.empty()) {
        return in.gatewayVendor;
    }
    return "Gateway";
}

void NetworkStateBuilder::WriteHomeNetworkDetails(JsonText& w, const Inputs& in) {
    w.Member("gatewayIP", in.adapter.gatewayIp);
    if (!in.adapter.gatewayMac.empty()) {
        w.Member("gatewayMAC", in.adapter.gatewayMac);
        if (!in.gatewayVendor.empty()) w.Member("gatewayManufacturer", in.gatewayVendor);
    }
    if (!in.figures.empty() && in.figures.front().hasFigures) WriteFigures(w, in.figures.front());
    if (unifi_) {
        w.Member("isUniFi", true);
        if (!unifi_->model.empty()) w.Member("unifiModel", unifi_->model);
    }
}

void NetworkStateBuilder::WriteIspDetails(JsonText& w, Inputs& in) {
    const PublicIpInfo& pub = in.publicIp;
    const Inputs::Provider& provider = in.provider;
    auto writeProvider = [&] {
        if (provider.source == nullptr) return;
        if (!provider.asn.empty()) w.Member("asn", "AS" + provider.asn);
        if (!provider.asName.empty()) w.Member("provider", provider.asName);
        w.Member("providerSource", provider.source);
    };
    if (!pub.valid) {
        if (provider.source == nullptr) {
            w.Member("status", "discovering");
            return;
        }
        // No public address yet (or UDP is blocked): the ISP as the path shows it.
        writeProvider();
        const HopFigures& f = in.figures[provider.hop];
        if (!(*in.path)[provider.hop].address.IsZero() && f.hasFigures) WriteFigures(w, f);
        return;
    }
    GeoSource& geo = *context_.geo;
    w.Member("publicIp", pub.ipAddress);
    if (!pub.hostname.empty()) w.Member("publicHostname", pub.hostname);
    writeProvider();

    in.publicGeo = geo.Lookup(pub.ipAddress);
    const GeoLocation& g = in.publicGeo;
    const bool located = HasCoordinates(g);
    if (located) {
        if (!g.city.empty()) w.Member("city", g.city);
        if (!g.region.empty()) w.Member("region", g.region);
        if (!g.country.empty()) w.Member("country", g.country);
        if (!g.countryCode.empty()) w.Member("countryCode", g.countryCode);
        const std::string location = FormatLocation(g);
        if (!location.empty()) w.Member("location", location);
        w.MemberFixed("latitude", g.latitude, 4).MemberFixed("longitude", g.longitude, 4);
        if (const auto asn = AsnFromOrganization(g)) {
            if (const auto provider = SatelliteProviderFromAsn(*asn)) {
                w.Member("satelliteProvider", SatelliteProviderName(*provider));
            }
        }
    }

    // The ISP's first router: the first hop in the provider's AS, else the second hop.
    const HopList& path = *in.path;
    int ispHop = -1;
    if (!provider.asn.empty()) {
        for (size_t i = 0; i < path.size(); ++i) {
            if (path[i].asn == provider.asn) {
                ispHop = static_cast<int>(i);
                break;
            }
        }
    }
    if (ispHop == -1 && path.size() >= 2) ispHop = 1;
    if (ispHop == -1 || path[ispHop].address.IsZero()) return;

    const HopFigures& f = in.figures[ispHop];
    if (f.hasFigures) WriteFigures(w, f);
    if (!located) return;
    const std::string hopText = path[ispHop].address.Text();
    if (IsPrivateOrReserved(hopText)) return;
    const GeoLocation hopGeo = geo.Lookup(hopText);
    if (!HasCoordinates(hopGeo)) return;
    const double miles = DistanceMiles(hopGeo.latitude, hopGeo.longitude, g.latitude, g.longitude);
    if (miles > 10.0) w.MemberFixed("ispDistanceMiles", miles, 0);
}

void NetworkStateBuilder::WriteServicesDetails(JsonText& w, const Inputs& in) {
    if (context_.destinationSilent && context_.destinationSilent()) {
        // The path ends at the last router that answers; the destination itself is named.
        const std::optional<Destination> destination = context_.registry.PrimaryDestination();
        if (destination) w.Member("hostname", destination->address.Text());
        w.Member("answersPing", false);
        return;
    }
    const HopRecord& last = in.path->back();
    if (last.address.IsZero()) return;
    GeoSource& geo = *context_.geo;
    const std::string lastText = last.address.Text();
    w.Member("hostname", last.hostname.empty() ? lastText : last.hostname);
    const HopFigures& f = in.figures.back();
    if (f.hasFigures) WriteFigures(w, f);
    if (IsPrivateOrReserved(lastText)) return;
    const GeoLocation d = geo.Lookup(lastText);
    const GeoLocation& g = in.publicGeo;
    if (!HasCoordinates(g) || !HasCoordinates(d)) return;
    const std::string place = FormatShortLocation(d);
    if (!place.empty()) w.Member("destLocation", place);
    const double miles = DistanceMiles(g.latitude, g.longitude, d.latitude, d.longitude);
    if (miles > 10.0) w.MemberFixed("distanceMiles", miles, 0);
}

std::string NetworkStateBuilder::DestinationName() const {
    const std::optional<Destination> chosen = context_.registry.PrimaryDestination();
    return !chosen || chosen->name.empty() ? std::string("Destination") : chosen->name;
}

void NetworkStateBuilder::WriteDestinations(JsonText& w) {
    // The primary first, then the others as listed; only those traced so far.
    std::vector<Destination> listed = context_.registry.GetDestinations();
    const std::optional<Destination> primary = context_.registry.PrimaryDestination();
    const auto isPrimary = [&](const Destination& d) {
        return primary && d.address == primary->address;
    };
    std::stable_partition(listed.begin(), listed.end(), isPrimary);
    std::vector<Destination> traced;
    std::vector<bool> reached;
    HopList targets;
    for (const Destination& d : listed) {
        const std::optional<DiscoveredPath> path = context_.registry.GetPath(d.address);
        if (!path) continue;
        traced.push_back(d);
        reached.push_back(!path->hops.empty() && path->hops.back() == d.address);
        HopRecord target;
        target.address = d.address;
        targets.push_back(target);
    }
    // The same figures and evidence a hop at the destination's address would show.
    const std::vector<HopFigures> figures = GatherFigures(targets, context_.registry);
    const std::vector<HopEvidence> evidence =
        GatherEvidence(targets, context_.registry, context_.hysteresis.Now(),
                       context_.hysteresis.memory.evidenceSince);

    w.Key("destinations").BeginArray();
    for (size_t i = 0; i < traced.size(); ++i) {
        const Destination& d = traced[i];
        const HopFigures& f = figures[i];
        const HopEvidence& e = evidence[i];
        // Answering a trace is answering ping; so is any echo answered since.
        const bool answered = (f.hasFigures && f.lossPercent < 100.0f) || e.samples > e.losses;
        w.BeginObject();
        w.Member("ip", d.address.Text());
        if (!d.name.empty()) w.Member("name", d.name);
        w.Member("isPrimary", isPrimary(d));
        w.Member("reached", static_cast<bool>(reached[i]));
        w.Member("answersPing", reached[i] || answered);
        if (f.hasFigures) {
            w.MemberFixed("rttMs", f.rttMs, 1);
            w.MemberFixed("loss", f.lossPercent, 1);
            w.MemberFixed("jitter", f.jitterMs, 1);
        }
        if (e.samples > 0) {
            w.MemberFixed("recentLoss", e.LossPercent(), 1);
            w.Member("recentSamples", e.samples);
        }
        w.EndObject();
    }
    w.EndArray();
}

void NetworkStateBuilder::NoteReason(const Callout& callout, bool written) {
    if (!written) {
        lastReason_ = {};
        shownVerdict_.clear();
        return;
    }
    // The same words about the same place are the same verdict, whatever its severity does
    // meanwhile: it keeps the time it was first shown.
    std::string verdict = callout.title + "\n" + callout.description + "\n" +
                          (callout.segment ? SegmentId(*callout.segment) : "");
    const int64_t since =
        verdict == shownVerdict_ ? lastReason_.sinceUnix : context_.hysteresis.UnixNow();
    lastReason_ = callout.reason;
    lastReason_.sinceUnix = since;
    shownVerdict_ = std::move(verdict);
}

void NetworkStateBuilder::WriteCallout(JsonText& w, const Callout& callout) {
    w.Key("culpritCallout").BeginObject();
    w.Member("severity", StatusText(callout.severity));
    w.Member("segmentId", callout.segment ? SegmentId(*callout.segment) : "");
    w.Member("title", callout.title);
    w.Member("description", callout.description);
    w.Member("remedy", callout.remedy);
    const VerdictReason& reason = lastReason_;
    if (reason.hopNumber >= 0) {
        w.Member("culpritHopNumber", reason.hopNumber);
        w.Member("culpritIp", reason.ip.Text());
    }
    if (!reason.trigger.empty()) {
        w.Member("trigger", reason.trigger);
        if (reason.trigger != "unreachable") w.MemberFixed("triggerValue", reason.value, 1);
    }
    w.Member("since", reason.sinceUnix);
    w.EndObject();
}

}  // namespace quillon
