#include "path/traceroute.h"

#include "base/log.h"
#include "discovery/address_text.h"
#include "discovery/name_lookups.h"
#include "path/echo_prober.h"
#include "path/node_registry.h"

namespace quillon {

HopLabel LabelHop(int32_t ttl, Ipv4Address address, Ipv4Address destination, const std::string& asn,
                  const std::string& destinationAsn, const std::string& ispAsn) {
    if (ttl == 1) return HopLabel::Local;
    if (address == destination) return HopLabel::Destination;
    if (!destinationAsn.empty() && destinationAsn == asn) return HopLabel::Destination;
    if (IsPrivateAddress(address) && asn.empty()) return HopLabel::Local;
    if (!ispAsn.empty() && ispAsn == asn) return HopLabel::Isp;
    if (asn.empty()) return HopLabel::Unknown;
    return HopLabel::Transit;
}

std::string AsnOf(NameLookups& lookups, Ipv4Address address) {
    const AsnInfo info = lookups.LookupAsn(address);
    return info.valid ? info.asn : std::string();
}

void NameHop(TraceContext& context, HopRecord& hop, Ipv4Address destination,
             const std::string& destinationAsn, const std::string& ispAsn,
             uint64_t registryGeneration) {
    hop.hostname = context.lookups.GetHostnameCached(hop.address);
    const AsnInfo info = context.lookups.LookupAsn(hop.address);
    if (info.valid) {
        hop.asn = info.asn;
        hop.asName = info.asName;
    }
    // The first hop past the home with an AS names the ISP, itself included.
    const std::string& isp = ispAsn.empty() && hop.ttl >= 2 ? hop.asn : ispAsn;
    hop.label = LabelHop(hop.ttl, hop.address, destination, hop.asn, destinationAsn, isp);
    context.registry.GetOrCreateNode(
        hop.address, NodeInfo{hop.hostname, hop.asn, hop.asName, hop.label}, registryGeneration);
}

std::string IspAsnOf(const HopList& hops, size_t end) {
    for (size_t i = 0; i < hops.size() && i < end; ++i) {
        const HopRecord& hop = hops[i];
        if (hop.ttl >= 2 && !hop.address.IsZero() && !hop.asn.empty()) return hop.asn;
    }
    return {};
}

HopList Traceroute(TraceContext& context, const std::string& destinationText,
                   const TraceGenerations& generations, Publish publish) {
    LogWrite(Info, "Starting traceroute to %s (max %d hops)", destinationText.c_str(),
             kTracerouteMaxHops);
    const std::optional<Ipv4Address> parsed = Ipv4Address::Parse(destinationText);
    if (!parsed) {
        LogWrite(Error, "Invalid destination address: %s", destinationText.c_str());
        return {};
    }
    const Ipv4Address destination = *parsed;

    const std::string destinationAsn = AsnOf(context.lookups, destination);
    std::string ispAsn;

    HopList hops;
    for (int32_t ttl = 1; ttl <= kTracerouteMaxHops; ++ttl) {
        ProbeResult probe;
        for (int32_t attempt = 0; attempt < kTracerouteProbesPerHop; ++attempt) {
            if (context.stop != nullptr && context.stop->load()) return hops;
            // A reset since the trace began makes it moot (nothing it finds would be kept):
            // end it, so that the trace of the new network can start at once.
            if (context.registry.Generation() != generations.registry) return hops;
            probe = context.prober.ProbeHop(destination, ttl, kTracerouteProbeTimeoutMs);
            if (!probe.timedOut && !probe.address.IsZero()) break;
        }
        HopRecord hop;
        hop.ttl = probe.ttl;
        hop.address = probe.address;
        hop.rttMs = probe.rttMs;
        hop.timedOut = probe.timedOut;

        if (probe.timedOut || probe.address.IsZero()) {
            hop.label = HopLabel::Unknown;
        } else {
            NameHop(context, hop, destination, destinationAsn, ispAsn, generations.registry);
            if (ispAsn.empty() && ttl >= 2) ispAsn = hop.asn;
        }

        hops.push_back(hop);
        if (publish == Publish::HopByHop) context.currentPath.Publish(hops, generations.path);
        if (hop.address == destination) break;
    }
    if (publish == Publish::AtTheEnd) context.currentPath.Publish(hops, generations.path);

    std::vector<Ipv4Address> addresses;
    addresses.reserve(hops.size());
    for (const HopRecord& hop : hops) addresses.push_back(hop.address);
    context.registry.StorePath(destination, addresses, generations.registry);

    LogWrite(Info, "Traceroute complete: %zu hops discovered, %zu nodes in registry", hops.size(),
             context.registry.NodeCount());
    return hops;
}

}  // namespace quillon
