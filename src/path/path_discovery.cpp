#include "path/path_discovery.h"

#include "base/log.h"
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

void PathDiscovery::RecordGatewayMac(const std::string& mac) {
    std::lock_guard lock(stateMutex_);
    recordedGatewayMac_ = mac;
}

uint64_t PathDiscovery::Generation() const {
    std::lock_guard lock(stateMutex_);
    return generation_;
}

TraceContext PathDiscovery::Trace() {
    return TraceContext{context_.prober, context_.lookups, context_.registry, context_.currentPath,
                        &stopping_};
}

PathDiscovery::CycleStart PathDiscovery::Begin() const {
    // Under the reset's own lock: the three generations always belong to one reset.
    std::lock_guard lock(stateMutex_);
    CycleStart start;
    start.generation = generation_;
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
    std::lock_guard lock(stateMutex_);
    ++generation_;
    primaryDone_ = false;
    secondaryDone_ = false;
    reprobeDone_ = false;
    destinationUnreached_ = false;
    destinationSilent_ = false;
    destinationAnswered_ = false;
    unreachedTraces_ = 0;
    lastPrimaryAttempt_ = 0;
    context_.currentPath.Clear();
    context_.prober.CloseEchoTargets();
    context_.lookups.ClearLookupCaches();
    context_.registry.Clear();
}

// The gateway is the primary adapter's, as the network-change handler sees it: one record,
// one way of reading it (a pinned adapter without a gateway has none).
void PathDiscovery::CheckGateway() {
    const AdapterInfo adapter = DiscoverPrimaryAdapter(context_.netInfo);
    if (adapter.gatewayIp.empty()) {
        if (!RecordedGatewayMac().empty()) {
            LogWrite(Debug, "Gateway temporarily unavailable - waiting for network");
        }
        return;
    }
    const std::string& mac = adapter.gatewayMac;
    if (mac.empty()) return;

    bool changed = false;
    {
        std::lock_guard lock(stateMutex_);
        if (recordedGatewayMac_.empty()) {
            recordedGatewayMac_ = mac;
            LogWrite(Debug, "Gateway MAC recorded: %s", mac.c_str());
            // A gateway where the last trace found none (the default route came back): that
            // trace saw no network, so the path is traced again now, not at the minute's retry.
            // Whoever sees the gateway first (this check or the network-change handler) resets.
            changed = destinationUnreached_;
        } else if (recordedGatewayMac_ != mac) {
            LogWrite(Info, "Gateway MAC changed: %s -> %s - rediscovering path",
                     recordedGatewayMac_.c_str(), mac.c_str());
            recordedGatewayMac_ = mac;
            changed = true;
        }
    }
    if (changed) ResetPathDiscovery();
}

// The first discovery records the primary adapter's gateway, as the network-change handler
// sees it, so that the first notification after start (a DHCP renewal) is known to be the same
// gateway.
void PathDiscovery::SeedGatewayMac() {
    if (!RecordedGatewayMac().empty()) return;
    const std::string mac = DiscoverPrimaryAdapter(context_.netInfo).gatewayMac;
    if (mac.empty()) return;
    std::lock_guard lock(stateMutex_);
    if (!recordedGatewayMac_.empty()) return;
    recordedGatewayMac_ = mac;
    LogWrite(Debug, "Gateway MAC recorded: %s", mac.c_str());
}

bool PathDiscovery::HolesDue() const {
    if (!AllStagesDone()) return false;
    const uint64_t last = lastReprobe_.load();
    if (last != 0 && context_.clock.Tick64() - last < kHoleReprobeIntervalMs) return false;
    const std::shared_ptr<const HopList> path = context_.currentPath.Snapshot();
    bool answeredAfter = false;
    for (auto hop = path->rbegin(); hop != path->rend(); ++hop) {
        if (!hop->address.IsZero()) {
            answeredAfter = true;
        } else if (answeredAfter) {
            return true;
        }
    }
    return false;
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
        if (HolesDue()) ReprobeHoles(start, kHoleReprobeIntervalMs, kTracerouteProbeTimeoutMs);
        ReportMeasurement();
    }
    running_ = false;
}

bool PathDiscovery::LooksSilent(const HopList& hops, Ipv4Address destination) {
    // Hops past the first answer: the network beyond the home works up to the destination.
    bool beyondHome = false;
    for (const HopRecord& hop : hops) {
        beyondHome = beyondHome || (hop.ttl >= 2 && !hop.address.IsZero());
    }
    if (!beyondHome) return false;
    // Another destination that answers proves the internet is reachable; when every other
    // one is silent too, this is an outage.
    bool others = false;
    for (const Destination& d : context_.registry.GetDestinations()) {
        if (d.address == destination) continue;
        others = true;
        const ProbeResult probe =
            context_.prober.ProbeHop(d.address, 64, kTracerouteProbeTimeoutMs);
        if (!probe.timedOut && probe.address == d.address) return true;
    }
    return !others;
}

void PathDiscovery::RunPrimaryStage(const CycleStart& start) {
    std::string text = kFallbackDestination;
    const std::optional<Destination> chosen = context_.registry.PrimaryDestination();
    if (chosen) {
        text = chosen->address.Text();
        if (chosen->isPrimary) {
            LogWrite(Info, "Running traceroute to primary destination %s (%s)",
                     chosen->name.c_str(), text.c_str());
        } else {
            LogWrite(Info, "Running traceroute to %s (%s)", chosen->name.c_str(), text.c_str());
        }
    }

    SeedGatewayMac();
    // A repeated trace replaces the path once at its end, so the page keeps the old one
    // meanwhile instead of watching it shrink to one hop and grow again.
    const bool repeat = DestinationUnreached();
    TraceContext trace = Trace();
    HopList hops =
        Traceroute(trace, text, start.trace, repeat ? Publish::AtTheEnd : Publish::HopByHop);
    const std::optional<Ipv4Address> destination = Ipv4Address::Parse(text);
    const bool reached = hops.empty() || (destination && hops.back().address == *destination);
    if (Stopping()) return;
    {
        std::lock_guard lock(stateMutex_);
        if (start.generation != generation_) return;  // reset meanwhile: forget this trace
    }

    bool silent = false;
    if (!reached) {
        int32_t traces;
        bool answered;
        {
            std::lock_guard lock(stateMutex_);
            traces = ++unreachedTraces_;
            answered = destinationAnswered_;
        }
        silent = !answered && traces >= kSilentDestinationTraces && LooksSilent(hops, *destination);
        if (silent) {
            // Judged by the hops that answer: the silent tail is no part of the picture.
            while (!hops.empty() && hops.back().address.IsZero()) hops.pop_back();
            context_.currentPath.Publish(hops, start.trace.path);
            LogWrite(Info, "Destination %s does not answer ping - judging the path up to hop %d",
                     text.c_str(), hops.empty() ? 0 : hops.back().ttl);
        }
    }
    {
        std::lock_guard lock(stateMutex_);
        if (start.generation != generation_) return;  // reset meanwhile: forget this trace
        lastPrimaryAttempt_ = context_.clock.Tick64();
        if (reached) {
            destinationAnswered_ = true;
            unreachedTraces_ = 0;
        }
        destinationUnreached_ = !reached && !silent;
        destinationSilent_ = silent;
        primaryDone_ = true;
    }
    LogWrite(Info, "Primary path discovered: %zu nodes in registry", context_.registry.NodeCount());
    // A repeated trace may have found hops the poller does not know yet.
    context_.prober.InvalidateTargets();
    context_.prober.SendEchoSweep();
}

void PathDiscovery::RunSecondaryStage(const CycleStart& start) {
    const std::vector<Destination> destinations = context_.registry.GetDestinations();
    const std::optional<Destination> chosen = context_.registry.PrimaryDestination();
    const Ipv4Address primary = chosen ? chosen->address : Ipv4Address();
    TraceContext trace = Trace();
    for (const Destination& d : destinations) {
        if (d.address == primary) continue;
        if (Stopping()) return;
        const std::string text = d.address.Text();
        LogWrite(Info, "Running traceroute to secondary destination %s (%s)", d.name.c_str(),
                 text.c_str());
        // Only the registry learns these hops: the current path stays the primary one, which
        // the poller measures and the diagnosis judges.
        Traceroute(trace, text, start.trace, Publish::None);
    }
    if (Complete(start, secondaryDone_)) {
        LogWrite(Info, "All paths discovered: %zu unique nodes", context_.registry.NodeCount());
        // The other destinations are echoed too from the next sweep on, so that each one has
        // figures of its own beside the primary's (one that ignores ping, one that answers).
        context_.prober.InvalidateTargets();
    }
}

void PathDiscovery::RunReprobeStage(const CycleStart& start) {
    // A pass skipped by the rate limit is not a pass: the stage stays open for the next cycle.
    if (!ReprobeHoles(start, kReprobeIntervalMs, kReprobeTimeoutMs) ||
        !Complete(start, reprobeDone_)) {
        return;
    }
    ReportMeasurement();
}

bool PathDiscovery::ReprobeHoles(const CycleStart& start, uint64_t minIntervalMs,
                                 uint32_t timeoutMs) {
    const std::shared_ptr<const HopList> snapshot = context_.currentPath.Snapshot();
    if (snapshot->empty() || !context_.prober.SharedHandleOpen()) return true;
    const uint64_t now = context_.clock.Tick64();
    const uint64_t last = lastReprobe_.load();
    if (last != 0 && now - last < minIntervalMs) return false;
    lastReprobe_ = now;

    int32_t target = static_cast<int32_t>(snapshot->size()) - 1;
    while (target >= 0 && (*snapshot)[target].address.IsZero()) --target;
    if (target < 0) return true;
    HopList hops = *snapshot;
    const Ipv4Address targetAddress = hops[target].address;
    const Ipv4Address destination =
        context_.registry.GetPath(targetAddress) ? targetAddress : Ipv4Address();
    // Only hops before the target: beyond it the target itself would answer.
    for (int32_t i = 0; i < target; ++i) {
        if (!hops[i].address.IsZero()) continue;
        if (Stopping()) return true;
        HopRecord& hop = hops[i];
        LogWrite(Debug, "Re-probing unknown hop %d with %dms timeout", hop.ttl,
                 static_cast<int>(timeoutMs));
        const ProbeResult probe = context_.prober.ProbeHop(targetAddress, hop.ttl, timeoutMs);
        if (probe.timedOut || probe.address.IsZero()) continue;
        if (probe.address == targetAddress) {
            // The target answered from this distance: it is this close, and the rows past it
            // were holes left by its own lost answers. It takes this row; the rest go.
            LogWrite(Info, "Hop %d answered by %s itself - the path ends there", hop.ttl,
                     targetAddress.Text().c_str());
            HopRecord moved = hops[target];
            moved.ttl = hop.ttl;
            moved.rttMs = probe.rttMs;
            hops.resize(i);
            hops.push_back(moved);
            std::vector<Ipv4Address> addresses;
            for (const HopRecord& h : hops) addresses.push_back(h.address);
            context_.registry.StorePath(targetAddress, addresses, start.trace.registry);
            context_.currentPath.Publish(hops, start.trace.path);
            break;
        }
        hop.address = probe.address;
        hop.rttMs = probe.rttMs;
        hop.timedOut = false;
        // Named and labelled as the traceroute would have, had it answered then.
        TraceContext trace = Trace();
        NameHop(trace, hop, destination,
                !destination.IsZero() ? AsnOf(context_.lookups, destination) : "",
                IspAsnOf(hops, i), start.trace.registry);
        LogWrite(Info, "Discovered previously unknown hop %d: %s (%s)", hop.ttl,
                 hop.address.Text().c_str(), hop.hostname.c_str());
        context_.prober.InvalidateTargets();
        context_.currentPath.Publish(hops, start.trace.path);
    }
    return true;
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
        if (!hop.address.IsZero()) {
            if (auto node = context_.registry.GetNodeFigures(hop.address)) figures = *node;
        }
        json.BeginObject()
            .Member("hop", hop.ttl)
            .Member("ip", hop.address.IsZero() ? std::string("*") : hop.address.Text())
            .MemberFixed("rttMs", figures.averageRtt, 1)
            .MemberFixed("loss", figures.lossPercent, 1)
            .MemberFixed("jitter", figures.jitter, 1)
            .Member("segment", LabelText(hop.label))
            .EndObject();
    }
    json.EndArray().EndObject();
    return json.Take();
}

}  // namespace quillon
