#include "path/diagnosis.h"

#include "base/log.h"
#include "discovery/address_text.h"
#include "path/node_registry.h"
#include "platform/clock.h"

namespace quillon {

namespace {

struct CalloutTexts {
    const char* title;
    const char* description;
    const char* remedy;
};

// Texts by culprit segment and variant (loss, latency, other).
CalloutTexts TextsFor(std::optional<Segment> segment, bool loss, bool latency) {
    const int variant = loss ? 0 : latency ? 1 : 2;
    if (segment == Segment::Connection) {
        static constexpr CalloutTexts kTexts[] = {
            {"WiFi Connection Issue", "Packet loss detected on your WiFi connection.",
             "Try moving closer to your router or reducing interference."},
            {"WiFi Connection Issue", "High latency on your WiFi connection.",
             "Check for WiFi congestion or try switching channels."},
            {"WiFi Connection Issue", "Your WiFi connection is experiencing instability.",
             "Try restarting your WiFi or moving closer to the router."}};
        return kTexts[variant];
    }
    if (segment == Segment::HomeNetwork) {
        static constexpr CalloutTexts kTexts[] = {
            {"Gateway/Router Issue", "Packet loss detected at your router.",
             "Try restarting your router or checking for overload."},
            {"Gateway/Router Issue", "High latency at your router (possible bufferbloat).",
             "Check for heavy bandwidth usage or enable SQM/QoS."},
            {"Gateway/Router Issue", "Your router is experiencing issues.",
             "Try restarting your router."}};
        return kTexts[variant];
    }
    if (segment == Segment::Isp) {
        static constexpr CalloutTexts kTexts[] = {
            {"ISP Issue", "Packet loss detected in your ISP's network.",
             "This is likely a temporary ISP issue. Contact them if it persists."},
            {"ISP Issue", "High latency in your ISP's network.",
             "This may indicate ISP congestion. Contact them if it persists."},
            {"ISP Issue", "Your ISP connection is experiencing issues.",
             "Check your ISP's status page or contact support."}};
        return kTexts[variant];
    }
    if (segment == Segment::Services) {
        return {"Remote Server Issue", "The destination server is not responding optimally.",
                "This is a remote issue, not on your network."};
    }
    return {"Network Issue Detected", "Your connection is experiencing some degradation.",
            "Monitor the situation - it may resolve automatically."};
}

void SetTexts(Diagnosis& d) {
    const CalloutTexts texts =
        TextsFor(d.culpritSegment, d.lossHop.has_value(), d.latencyHop.has_value());
    d.title = texts.title;
    d.description = texts.description;
    d.remedy = texts.remedy;
}

// The reason behind an impairment that starts at hop `culprit`: the metric starting there
// (loss before latency before jitter, as the texts choose) and the hop's recent figures. The hop
// itself is named only once the place is settled.
VerdictReason ReasonOf(const Diagnosis& d, const HopList& path,
                       const std::vector<HopEvidence>& evidence, int32_t culprit) {
    VerdictReason r;
    const HopEvidence& e = evidence[culprit];
    r.rttMs = static_cast<float>(e.rttMean);
    r.lossPercent = e.LossPercent();
    r.jitterMs = static_cast<float>(e.rttMad);
    if (d.lossHop == culprit) {
        r.trigger = "loss";
        r.value = r.lossPercent;
    } else if (d.latencyHop == culprit) {
        r.trigger = "latency";
        r.value = r.rttMs;
    } else {
        r.trigger = "jitter";
        r.value = r.jitterMs;
    }
    if (d.culpritSegment) {
        r.hopNumber = path[culprit].ttl;
        r.ip = path[culprit].address;
    }
    return r;
}

// A reason whose place is not (or no longer) given.
VerdictReason Unplaced(VerdictReason r) {
    r.hopNumber = -1;
    r.ip = Ipv4Address();
    return r;
}

// Carrier-grade NAT space (100.64.0.0/10) belongs to the ISP even though it is private.
bool IsSharedAddressSpace(Ipv4Address address) {
    return address.Octet(0) == 100 && (address.Octet(1) & 0xC0) == 64;
}

}  // namespace

std::vector<HopFigures> GatherFigures(const HopList& path, const NodeRegistry& registry) {
    std::vector<HopFigures> figures(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i].address.IsZero()) continue;
        const auto node = registry.GetNodeFigures(path[i].address);
        if (!node || node->count < 1) continue;
        figures[i] = {true, static_cast<float>(node->averageRtt), node->lossPercent, node->jitter};
    }
    return figures;
}

HealthAssessment AssessHealth(const HopFigures& f) {
    HealthAssessment a;
    a.rttMs = f.rttMs;
    a.lossPercent = f.lossPercent;
    a.jitterMs = f.jitterMs;
    a.highLatency = f.rttMs >= kHighLatencyMs;
    a.highLoss = f.lossPercent >= kHighLossPercent;
    a.highJitter = f.jitterMs >= kHighJitterMs;
    if (f.rttMs >= kCriticalLatencyMs || f.lossPercent >= kCriticalLossPercent ||
        f.jitterMs >= kCriticalJitterMs) {
        a.status = SegmentStatus::Critical;
    } else if (a.highLatency || a.highLoss || a.highJitter) {
        a.status = SegmentStatus::Warning;
    } else {
        a.status = SegmentStatus::Healthy;
        a.isHealthy = true;
    }
    return a;
}

Segment SegmentOfHop(const HopList& path, size_t index) {
    const HopRecord& hop = path.at(index);
    if (hop.label == HopLabel::Local) {
        if (index == 0) return Segment::Connection;
        return IsSharedAddressSpace(hop.address) ? Segment::Isp : Segment::HomeNetwork;
    }
    if (hop.label == HopLabel::Destination) return Segment::Services;
    return Segment::Isp;
}

namespace {

// The segments every possible start of the impairment lies in, when they are all one.
std::optional<Segment> SettledSegment(const HopList& path, const std::vector<const Run*>& runs,
                                      int32_t culprit) {
    const Segment segment = SegmentOfHop(path, culprit);
    for (const Run* run : runs) {
        for (const int32_t c : run->candidates) {
            if (c <= culprit && SegmentOfHop(path, c) != segment) return std::nullopt;
        }
    }
    return segment;
}

}  // namespace

Diagnosis Diagnose(const HopList& path, const std::vector<HopEvidence>& evidence,
                   bool destinationReached, const Hysteresis& memory) {
    Diagnosis d;
    if (path.empty()) return d;

    if (!destinationReached) {
        // The destination could not be traced: broken somewhere, place unknown.
        d.hasIssue = true;
        d.unreached = true;
        d.endToEnd = EndToEnd::Impaired;
        d.assessment.status = SegmentStatus::Critical;
        d.reason.trigger = "unreachable";
        SetTexts(d);
        return d;
    }

    const int32_t end = LastMeasuredHop(evidence);
    if (end < 0) return d;  // nothing measured yet
    const Hysteresis::Memory& m = memory.memory;
    const Run latency = FindRun(evidence, Metric::Latency);
    Run loss = FindRun(evidence, Metric::Loss);
    const Run jitter = FindRun(evidence, Metric::Jitter);
    // A proven loss whose hops have since answered too often in a row for its rate is over,
    // however much of it the window still holds.
    uint64_t lastLoss = 0;
    const bool lossEnded = LossEnded(evidence, m.lossLevel, m.affected, &lastLoss);
    if (lossEnded) {
        d.lossEndedAt = lastLoss + 1;
        loss = Run{};
    }
    d.suspected = latency.suspected || loss.suspected || jitter.suspected;
    d.ownLoss = loss.ownLoss;

    // The end's figures over the evidence window; the loss of a proven run is the run's.
    const HopEvidence& last = evidence[end];
    HopFigures figures{true, static_cast<float>(last.rttMean), last.LossPercent(),
                       static_cast<float>(last.rttMad)};
    if (loss.impaired) figures.lossPercent = std::max(figures.lossPercent, float(loss.level * 100));
    HealthAssessment& a = d.assessment;
    a = AssessHealth(figures);
    a.highLatency = latency.impaired;
    a.highLoss = loss.impaired;
    a.highJitter = jitter.impaired;
    const bool impaired = latency.impaired || loss.impaired || jitter.impaired;
    if (!impaired) {
        a.isHealthy = true;  // figures over a threshold but unproven are no issue yet
        const bool lossClear =
            lossEnded || (m.lossLevel <= 0 && ProvenBelow(evidence, Metric::Loss));
        const bool clear = lossClear && ProvenBelow(evidence, Metric::Latency) &&
                           ProvenBelow(evidence, Metric::Jitter);
        d.endToEnd = clear ? EndToEnd::Clear : EndToEnd::Unsure;
        return d;
    }
    // Proven: the severity follows the proven metrics only.
    a.isHealthy = false;
    const bool critical = (latency.impaired && figures.rttMs >= kCriticalLatencyMs) ||
                          (loss.impaired && figures.lossPercent >= kCriticalLossPercent) ||
                          (jitter.impaired && figures.jitterMs >= kCriticalJitterMs);
    a.status = critical ? SegmentStatus::Critical : SegmentStatus::Warning;

    d.hasIssue = true;
    d.endToEnd = EndToEnd::Impaired;
    std::vector<const Run*> runs;
    int32_t culprit = static_cast<int32_t>(path.size());
    const auto take = [&](const Run& run, std::optional<int32_t>& hop) {
        if (!run.impaired) return;
        hop = run.start;
        runs.push_back(&run);
        culprit = std::min(culprit, run.start);
        d.onsetMs = d.onsetMs == 0 ? run.onsetMs : std::min(d.onsetMs, run.onsetMs);
    };
    take(latency, d.latencyHop);
    take(loss, d.lossHop);
    take(jitter, d.jitterHop);
    d.culpritHop = culprit;
    d.lossLevel = loss.impaired ? loss.level : 0;
    if (loss.impaired) d.lossMembers = loss.members;
    d.firstCandidate = culprit;
    for (const Run* run : runs) {
        for (const int32_t c : run->candidates) {
            if (c <= culprit) d.firstCandidate = std::min(d.firstCandidate, c);
        }
    }
    d.culpritSegment = SettledSegment(path, runs, culprit);
    if (d.culpritSegment) SetTexts(d);
    d.reason = ReasonOf(d, path, evidence, culprit);
    return d;
}

SegmentStatus Hysteresis::UpdateHysteresis(Segment segment, SegmentStatus status,
                                           uint64_t onsetMs) {
    const bool impaired = IsImpaired(status);
    Entry& e = entries_[static_cast<size_t>(segment)];
    const uint64_t now = clock_.Tick64();
    const char* id = SegmentId(segment);
    switch (e.state) {
        case kNone:
            if (impaired) {
                e = {kPending, onsetMs != 0 && onsetMs < now ? onsetMs : now};
                LogWrite(Debug, "Hysteresis[%s]: NONE -> PENDING (impairment detected)", id);
            }
            return SegmentStatus::Healthy;
        case kPending:
            if (!impaired) {
                e = {kNone, 0};
                LogWrite(Debug, "Hysteresis[%s]: PENDING -> NONE (cleared before entry delay)", id);
                return SegmentStatus::Healthy;
            }
            if (now - e.since < kEntryDelayMs) return SegmentStatus::Healthy;
            e = {kConfirmed, now};
            LogWrite(Info, "Hysteresis[%s]: PENDING -> CONFIRMED (entry delay elapsed)", id);
            return status;
        case kConfirmed:
            if (!impaired) {
                e = {kClearing, now};
                LogWrite(Debug, "Hysteresis[%s]: CONFIRMED -> CLEARING (impairment resolved)", id);
            }
            return status;
        case kClearing:
            if (impaired) {
                e = {kConfirmed, now};
                LogWrite(Debug, "Hysteresis[%s]: CLEARING -> CONFIRMED (impairment returned)", id);
                return status;
            }
            if (now - e.since < kExitDelayMs) return SegmentStatus::Warning;
            e = {kNone, 0};
            LogWrite(Info, "Hysteresis[%s]: CLEARING -> NONE (exit delay elapsed)", id);
            return SegmentStatus::Healthy;
    }
    return SegmentStatus::Healthy;
}

void Hysteresis::ResetHysteresis() {
    entries_ = {};
    memory = Memory{};
}

uint64_t Hysteresis::Now() const {
    return clock_.Tick64();
}

int64_t Hysteresis::UnixNow() const {
    return clock_.UnixSeconds();
}

bool Hysteresis::AnyActive() const {
    for (const Entry& entry : entries_) {
        if (entry.state != kNone) return true;
    }
    return false;
}

Hysteresis::State Hysteresis::StateOf(Segment segment) const {
    return entries_[static_cast<size_t>(segment)].state;
}

bool Hysteresis::Shown(Segment segment) const {
    const State state = StateOf(segment);
    return state == kConfirmed || state == kClearing;
}

namespace {

// Shown while an impairment is proven but not yet placed.
Callout CheckingCallout(const Diagnosis& d) {
    Callout c;
    c.show = true;
    c.severity = SegmentStatus::Warning;
    c.title = "Checking Your Connection";
    c.description = d.lossHop      ? "Packet loss detected. Measuring more often to find "
                                     "where it starts."
                    : d.latencyHop ? "High latency detected. Measuring more often to find "
                                     "where it starts."
                                   : "Unstable response times detected. Measuring more "
                                     "often to find where they start.";
    c.remedy = "Hold on - this takes a few seconds.";
    c.reason = Unplaced(d.reason);
    return c;
}

Callout IssueCallout(const Diagnosis& d, SegmentStatus severity) {
    return Callout{true,
                   severity,
                   d.culpritSegment,
                   d.title,
                   d.description,
                   d.remedy,
                   d.culpritSegment ? d.reason : Unplaced(d.reason)};
}

// Evidence that cannot place an impairment within this long is reported as one of unknown place.
constexpr uint64_t kCheckingLimitMs = 60000;

// While the evidence has not settled: the confirmed segment stays, else "checking".
Callout HeldOrChecking(const Diagnosis& d, Hysteresis& h, uint64_t now) {
    const Callout& confirmed = h.memory.confirmed;
    if (confirmed.show && confirmed.segment && h.Shown(*confirmed.segment)) {
        h.memory.checkingSince = 0;
        return confirmed;
    }
    if (h.memory.checkingSince == 0) h.memory.checkingSince = now;
    if (now - h.memory.checkingSince < kCheckingLimitMs) return CheckingCallout(d);
    Diagnosis unplaced = d;
    unplaced.culpritSegment.reset();
    SetTexts(unplaced);
    return IssueCallout(unplaced, d.assessment.status);
}

SegmentStatus LinkStatus(const LinkFacts& link) {
    if (link.wifiConnected) {
        return link.signalQuality < 30   ? SegmentStatus::Critical
               : link.signalQuality < 50 ? SegmentStatus::Warning
                                         : SegmentStatus::Healthy;
    }
    return link.hasGateway ? SegmentStatus::Healthy : SegmentStatus::Unknown;
}

Verdict Finish(const Callout& c, bool pathEmpty, const LinkFacts& link) {
    Verdict v;
    v.callout = c;
    // This computer is always healthy; the link has its own; the rest follow the path.
    const SegmentStatus beyond =
        c.show || pathEmpty ? SegmentStatus::Unknown : SegmentStatus::Healthy;
    v.segmentStatus = {SegmentStatus::Healthy, LinkStatus(link), beyond, beyond, beyond};
    if (c.show && c.segment && *c.segment != Segment::Device) {
        v.segmentStatus[static_cast<size_t>(*c.segment)] = c.severity;
    }
    if (pathEmpty) {
        v.overall = SegmentStatus::Unknown;
    } else {
        v.overall = c.show ? c.severity : SegmentStatus::Healthy;
    }
    return v;
}

}  // namespace

Verdict BuildVerdict(const Diagnosis& d, bool pathEmpty, const LinkFacts& link,
                     Hysteresis& hysteresis) {
    Hysteresis::Memory& m = hysteresis.memory;
    const uint64_t now = hysteresis.Now();
    Callout c;

    if (d.unreached || (d.hasIssue && d.culpritSegment)) {
        m.checkingSince = 0;
        SegmentStatus effective = d.assessment.status;
        if (!d.unreached) {
            // The entry delay runs from the impairment's first echo, except when blame moves
            // from a segment already shown: the new one must then hold for the whole delay.
            const std::optional<Segment>& shown = m.confirmed.segment;
            const bool moving =
                m.confirmed.show && shown && shown != d.culpritSegment && hysteresis.Shown(*shown);
            effective = hysteresis.UpdateHysteresis(*d.culpritSegment, d.assessment.status,
                                                    moving ? 0 : d.onsetMs);
        }
        if (effective != SegmentStatus::Healthy) {
            c = IssueCallout(d, effective);
            if (!d.unreached) m.confirmed = c;
            // Every other segment, the one blamed before included, starts clearing.
            for (const Segment s : kSegments) {
                if (d.culpritSegment != s) hysteresis.UpdateHysteresis(s, SegmentStatus::Healthy);
            }
        } else {
            // The new culprit waits out its entry delay; the old one stays until then, and
            // any other segment that was only pending is dropped.
            c = HeldOrChecking(d, hysteresis, now);
            for (const Segment s : kSegments) {
                if (d.culpritSegment != s && hysteresis.StateOf(s) == Hysteresis::kPending) {
                    hysteresis.UpdateHysteresis(s, SegmentStatus::Healthy);
                }
            }
        }
    } else if (d.hasIssue) {
        c = HeldOrChecking(d, hysteresis, now);  // proven, not placed: nothing moves
    } else if (d.endToEnd == EndToEnd::Unsure && (hysteresis.AnyActive() || m.shown.show)) {
        c = m.shown;  // not yet proven either way: what was shown stays
    } else {
        m.checkingSince = 0;
        for (const Segment s : kSegments) hysteresis.UpdateHysteresis(s, SegmentStatus::Healthy);
        for (const Segment s : kSegments) {
            if (hysteresis.Shown(s)) {
                c.show = true;
                c.severity = SegmentStatus::Warning;
                c.title = "Network Stabilizing";
                c.description = "Recent network issues are resolving.";
                c.remedy = "Monitoring for stability.";
                break;
            }
        }
        if (!hysteresis.AnyActive()) {
            const uint64_t since = m.evidenceSince;
            m = Hysteresis::Memory{};
            m.evidenceSince = since;
        }
    }

    if (d.hasIssue && !d.unreached) {
        if (d.lossLevel > 0) m.lossLevel = d.lossLevel;
        if (!d.lossMembers.empty()) m.affected = d.lossMembers;
    }
    if (d.lossEndedAt != 0) {
        m.evidenceSince = d.lossEndedAt;
        m.lossLevel = 0;
    }
    m.shown = c;
    return Finish(c, pathEmpty, link);
}

Verdict NoIcmpVerdict(const LinkFacts& link, const std::string& remedy) {
    Callout c;
    c.show = true;
    c.severity = SegmentStatus::Unknown;
    c.title = "Ping Not Permitted";
    c.description =
        "This computer does not let Quillon send ping (ICMP echo) messages, so the path to "
        "the internet cannot be measured.";
    c.remedy = remedy;
    Verdict v = Finish(c, true, link);
    return v;
}

}  // namespace quillon
