#include "path/path_discovery.h"

#include "app/log.h"
#include "discovery/adapter_discovery.h"
#include "discovery/address_text.h"
#include "discovery/name_lookups.h"
#include "path/echo_prober.h"
#include "path/json_text.h"
#include "path/node_registry.h"
#include "platform/clock.h"

namespace quillon {

namespace {

constexpr char kFallbackDestination[] = "1.1.1.1";

}  // namespace

PathDiscovery::PathDiscovery(PathDiscoveryContext context) : context_(std::move(context)) {}

std::string PathDiscovery::RecordedGatewayMac() const {
    std::lock_guard lock(stateMutex_);
    return recordedGatewayMac_;
}

TraceContext PathDiscovery::Trace() {
    return TraceContext{context_.prober, context_.lookups, context_.registry,
                        context_.currentPath, &stopping_};
}

PathDiscovery::CycleStart PathDiscovery::Begin() const {
    CycleStart start;
    {
        std::lock_guard lock(stateMutex_);
        start.generation = generation_;
    }
    // Taken after our own generation: a reset that slips in between is seen by Complete().
    start.trace.registry = context_.registry.Generation();
    start.trace.path = context_.currentPath.Generation();
    return start;
}

bool PathDiscovery::Complete(const CycleStart& start, std::atomic<bool>& flag) {
    std::lock_guard lock(stateMutex_);
    if (start.generation != generation_) return false;
    flag.store(true);
    return true;
}

void PathDiscovery::ResetPathDiscovery() {
    LogWrite(Info, "Resetting path discovery");
    {
        std::lock_guard lock(stateMutex_);
        ++generation_;
        primaryDone_ = false;
        secondaryDone_ = false;
        reprobeDone_ = false;
        destinationUnreached_ = false;
        lastPrimaryAttempt_ = 0;
    }
    context_.currentPath.Clear();
    context_.prober.CloseEchoTargets();
    context_.lookups.ClearLookupCaches();
    context_.registry.Clear();
}

void PathDiscovery::CheckGateway() {
    const uint32_t gateway = GetDefaultGateway(context_.netInfo, 0);
    if (gateway == 0) {
        if (!RecordedGatewayMac().empty()) {
            LogWrite(Debug, "Gateway temporarily unavailable - waiting for network");
        }
        return;
    }
    std::string mac;
    if (!GetGatewayMac(context_.netInfo, gateway, &mac)) return;

    bool changed = false;
    {
        std::lock_guard lock(stateMutex_);
        if (recordedGatewayMac_.empty()) {
            recordedGatewayMac_ = mac;
            LogWrite(Debug, "Gateway MAC recorded: %s", mac.c_str());
        } else if (recordedGatewayMac_ != mac) {
            LogWrite(Info, "Gateway MAC changed: %s -> %s - rediscovering path",
                     recordedGatewayMac_.c_str(), mac.c_str());
            recordedGatewayMac_ = mac;
            changed = true;
        }
    }
    if (changed) ResetPathDiscovery();
}

void PathDiscovery::RunDiscoveryCycle() {
    if (Stopping()) return;
    if (PrimaryDone()) CheckGateway();

    bool expected = false;
    if (!running_.compare_exchange_strong(expected, true)) return;
    const CycleStart start = Begin();

    if (!PrimaryDone()) {
        RunPrimaryStage(start);
    } else if (DestinationUnreached()) {
        // The later stages wait until the primary destination answers; retry once a minute.
        uint64_t last;
        {
            std::lock_guard lock(stateMutex_);
            last = lastPrimaryAttempt_;
        }
        if (context_.clock.Tick64() - last >= kPrimaryRetryIntervalMs) RunPrimaryStage(start);
    } else if (!SecondaryDone()) {
        RunSecondaryStage(start);
    } else if (!ReprobeDone()) {
        RunReprobeStage(start);
    } else {
        ReportMeasurement();
    }
    running_ = false;
}

void PathDiscovery::RunPrimaryStage(const CycleStart& start) {
    std::string text = kFallbackDestination;
    const std::vector<Destination> destinations = context_.registry.GetDestinations();
    const Destination* chosen = nullptr;
    for (const Destination& d : destinations) {
        if (d.isPrimary) {
            chosen = &d;
            break;
        }
    }
    if (chosen != nullptr) {
        text = Ipv4ToText(chosen->address);
        LogWrite(Info, "Running traceroute to primary destination %s (%s)", chosen->name.c_str(),
                 text.c_str());
    } else if (!destinations.empty()) {
        chosen = &destinations.front();
        text = Ipv4ToText(chosen->address);
        LogWrite(Info, "Running traceroute to %s (%s)", chosen->name.c_str(), text.c_str());
    }

    TraceContext trace = Trace();
    const HopList hops = Traceroute(trace, text, start.trace, true);
    const std::optional<uint32_t> destination = ParseIpv4(text);
    const bool reached = hops.empty() || (destination && hops.back().address == *destination);
    if (Stopping()) return;

    {
        std::lock_guard lock(stateMutex_);
        if (start.generation != generation_) return;  // reset meanwhile: forget this trace
        lastPrimaryAttempt_ = context_.clock.Tick64();
        destinationUnreached_ = !reached;
        primaryDone_ = true;
    }
    LogWrite(Info, "Primary path discovered: %zu nodes in registry",
             context_.registry.NodeCount());
    // A repeated trace may have found hops the poller does not know yet.
    context_.prober.InvalidateTargets();
    context_.prober.SendEchoSweep();
}

void PathDiscovery::RunSecondaryStage(const CycleStart& start) {
    const std::vector<Destination> destinations = context_.registry.GetDestinations();
    uint32_t primary = 0;
    for (const Destination& d : destinations) {
        if (d.isPrimary) {
            primary = d.address;
            break;
        }
    }
    TraceContext trace = Trace();
    for (const Destination& d : destinations) {
        if (d.address == primary) continue;
        if (Stopping()) return;
        const std::string text = Ipv4ToText(d.address);
        LogWrite(Info, "Running traceroute to secondary destination %s (%s)", d.name.c_str(),
                 text.c_str());
        // Only the registry learns these hops: the current path stays the primary one, which
        // the poller measures and the diagnosis judges.
        Traceroute(trace, text, start.trace, false);
    }
    if (Complete(start, secondaryDone_)) {
        LogWrite(Info, "All paths discovered: %zu unique nodes", context_.registry.NodeCount());
    }
}

void PathDiscovery::RunReprobeStage(const CycleStart& start) {
    const std::shared_ptr<const HopList> snapshot = context_.currentPath.Snapshot();
    bool rateLimited = false;
    if (!snapshot->empty() && context_.prober.SharedHandleOpen()) {
        const uint64_t now = context_.clock.Tick64();
        const uint64_t last = lastReprobe_.load();
        if (last != 0 && now - last < kReprobeIntervalMs) {
            rateLimited = true;
        } else {
            lastReprobe_ = now;
            int32_t target = static_cast<int32_t>(snapshot->size()) - 1;
            while (target >= 0 && (*snapshot)[target].address == 0) --target;
            HopList hops = *snapshot;
            // Only hops before the target: beyond it the target itself would answer.
            for (int32_t i = 0; i < target; ++i) {
                HopRecord& hop = hops[i];
                if (hop.address != 0) continue;
                if (Stopping()) return;
                LogWrite(Debug, "Re-probing unknown hop %d with %dms timeout", hop.ttl,
                         static_cast<int>(kReprobeTimeoutMs));
                const ProbeResult probe = context_.prober.ProbeHop(hops[target].address,
                                                                   hop.ttl, kReprobeTimeoutMs);
                if (probe.timedOut || probe.address == 0) continue;
                if (probe.address == hops[target].address) {
                    // The target itself answered: it is closer than the path says (its answer
                    // at this distance was lost during the traceroute). That names no router
                    // here, so the hop stays unknown rather than become a copy of the target.
                    LogWrite(Debug, "Hop %d answered by the target itself - left unknown",
                             hop.ttl);
                    continue;
                }
                hop.address = probe.address;
                hop.rttMs = probe.rttMs;
                hop.timedOut = false;
                hop.hostname = context_.lookups.GetHostnameCached(hop.address);
                const AsnInfo info = context_.lookups.LookupAsn(hop.address);
                if (info.valid) {
                    hop.asn = info.asn;
                    hop.asName = info.asName;
                }
                LogWrite(Info, "Discovered previously unknown hop %d: %s (%s)", hop.ttl,
                         Ipv4ToText(hop.address).c_str(), hop.hostname.c_str());
                if (hop.asn.empty()) {
                    if (IsPrivateAddress(hop.address)) hop.segment = kLabelLocal;
                } else {
                    hop.segment = kLabelTransit;
                }
                context_.registry.GetOrCreateNode(
                    hop.address, NodeInfo{hop.hostname, hop.asn, hop.asName, hop.segment},
                    start.trace.registry);
                context_.prober.InvalidateTargets();
                context_.currentPath.Publish(hops, start.trace.path);
            }
        }
    }
    // A pass skipped by the rate limit is not a pass: the stage stays open for the next cycle.
    if (rateLimited || !Complete(start, reprobeDone_)) return;
    ReportMeasurement();
}

void PathDiscovery::ReportMeasurement() {
    if (context_.currentPath.Snapshot()->empty()) return;
    const uint64_t now = context_.clock.Tick64();
    const uint64_t last = lastReport_.load();
    if (last != 0 && now - last < kMeasurementReportIntervalMs) return;
    lastReport_ = now;
    if (context_.trackEvent) context_.trackEvent("network.measurement", MeasurementText());
}

std::string PathDiscovery::MeasurementText() const {
    const std::shared_ptr<const HopList> path = context_.currentPath.Snapshot();
    JsonText json;
    json.BeginObject().Key("hops").BeginArray();
    for (const HopRecord& hop : *path) {
        NodeFigures figures;
        if (hop.address != 0) {
            if (auto node = context_.registry.GetNodeFigures(hop.address)) figures = *node;
        }
        json.BeginObject()
            .Member("hop", hop.ttl)
            .Member("ip", hop.address == 0 ? std::string("*") : Ipv4ToText(hop.address))
            .MemberFixed("rttMs", figures.averageRtt, 1)
            .MemberFixed("loss", figures.lossPercent, 1)
            .MemberFixed("jitter", figures.jitter, 1)
            .Member("segment", hop.segment.empty() ? std::string(kLabelTransit) : hop.segment)
            .EndObject();
    }
    json.EndArray().EndObject();
    return json.Take();
}

}  // namespace quillon
