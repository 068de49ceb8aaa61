// Traceroute: discovers the hops between this computer and one IPv4 destination with echoes of
// rising time-to-live, names each answering hop (reverse DNS, AS number), labels it with the
// stretch of the path it belongs to, registers it in the node registry and, for the primary
// destination, publishes the hops as the current path while it goes.
// Runs on the discovery worker and blocks for as long as its probes take (up to 15 s plus
// name look-ups).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "path/current_path.h"

namespace quillon {

class EchoProber;
class NameLookups;
class NodeRegistry;

constexpr int32_t kTracerouteMaxHops = 15;
constexpr uint32_t kTracerouteProbeTimeoutMs = 1000;
// A time-to-live whose probe gets no answer is tried again before it counts as a hole: on a
// lossy link one lost answer must not make a hole (or send the trace past its destination).
constexpr int32_t kTracerouteProbesPerHop = 3;

struct TraceContext {
    EchoProber& prober;
    NameLookups& lookups;
    NodeRegistry& registry;
    CurrentPath& currentPath;
    // Set when the application is shutting down: the trace ends before its next probe.
    const std::atomic<bool>* stop = nullptr;
};

// The generations a discovery cycle started in; writes of a stale cycle are dropped.
struct TraceGenerations {
    uint64_t registry = 0;
    uint64_t path = 0;
};

// How a trace shows its progress as the current path.
enum class Publish {
    None,      // only the registry learns the hops (secondary destinations)
    HopByHop,  // the current path grows with every hop (a first trace: the page shows progress)
    AtTheEnd,  // the current path is replaced once, when done (a repeat: no shrinking picture)
};

// Traces `destination` (dotted-quad text). Returns the hop records in time-to-live order; empty
// when the text is not an IPv4 address. A stop request, or a reset of the registry since the
// trace began, ends it before the next probe; the partial hops are returned and nothing more is
// stored or logged.
HopList Traceroute(TraceContext& context, const std::string& destination,
                   const TraceGenerations& generations, Publish publish);

// The AS a path's ISP is known by: that of its first hop at time-to-live 2 or more with AS data
// (among the hops before `end`).
std::string IspAsnOf(const HopList& hops, size_t end = SIZE_MAX);

// Label of an answering hop, first rule that applies.
HopLabel LabelHop(int32_t ttl, Ipv4Address address, Ipv4Address destination, const std::string& asn,
                  const std::string& destinationAsn, const std::string& ispAsn);

// The AS number of an address; empty when unknown.
std::string AsnOf(NameLookups& lookups, Ipv4Address address);

// Names an answering hop (host name, AS), labels it and registers its node: what a trace does
// for every hop that answers, and a re-probe for a hole that answers later. `ispAsn` is the
// path's so far (empty: this hop may be the one that names it).
void NameHop(TraceContext& context, HopRecord& hop, Ipv4Address destination,
             const std::string& destinationAsn, const std::string& ispAsn,
             uint64_t registryGeneration);

}  // namespace quillon
