#include "path/diagnosis.h"

#include "app/log.h"
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
CalloutTexts TextsFor(const std::string& segment, int32_t lossHop, int32_t latencyHop) {
    const int variant = lossHop != -1 ? 0 : latencyHop != -1 ? 1 : 2;
    if (segment == "connection") {
        static constexpr CalloutTexts kTexts[] = {
            {"WiFi Connection Issue", "Packet loss detected on your WiFi connection.",
             "Try moving closer to your router or reducing interference."},
            {"WiFi Connection Issue", "High latency on your WiFi connection.",
             "Check for WiFi congestion or try switching channels."},
            {"WiFi Connection Issue", "Your WiFi connection is experiencing instability.",
             "Try restarting your WiFi or moving closer to the router."}};
        return kTexts[variant];
    }
    if (segment == "homeNetwork") {
        static constexpr CalloutTexts kTexts[] = {
            {"Gateway/Router Issue", "Packet loss detected at your router.",
             "Try restarting your router or checking for overload."},
            {"Gateway/Router Issue", "High latency at your router (possible bufferbloat).",
             "Check for heavy bandwidth usage or enable SQM/QoS."},
            {"Gateway/Router Issue", "Your router is experiencing issues.",
             "Try restarting your router."}};
        return kTexts[variant];
    }
    if (segment == "isp") {
        static constexpr CalloutTexts kTexts[] = {
            {"ISP Issue", "Packet loss detected in your ISP's network.",
             "This is likely a temporary ISP issue. Contact them if it persists."},
            {"ISP Issue", "High latency in your ISP's network.",
             "This may indicate ISP congestion. Contact them if it persists."},
            {"ISP Issue", "Your ISP connection is experiencing issues.",
             "Check your ISP's status page or contact support."}};
        return kTexts[variant];
    }
    if (segment == "services") {
        return {"Remote Server Issue", "The destination server is not responding optimally.",
                "This is a remote issue, not on your network."};
    }
    return {"Network Issue Detected", "Your connection is experiencing some degradation.",
            "Monitor the situation - it may resolve automatically."};
}

void SetTexts(Diagnosis& d) {
    const CalloutTexts texts = TextsFor(d.culpritSegment, d.lossHop, d.latencyHop);
    d.title = texts.title;
    d.description = texts.description;
    d.remedy = texts.remedy;
}

bool AtOrAbove(const HopFigures& f, Metric metric) {
    switch (metric) {
        case Metric::Latency: return f.rttMs >= kHighLatencyMs;
        case Metric::Loss: return f.lossPercent >= kHighLossPercent;
        case Metric::Jitter: return f.jitterMs >= kHighJitterMs;
    }
    return false;
}

// Carrier-grade NAT space (100.64.0.0/10) belongs to the ISP even though it is private.
bool IsSharedAddressSpace(uint32_t address) {
    return (address & 0xFF) == 100 && ((address >> 8) & 0xC0) == 64;
}

}  // namespace

const char* StatusText(int32_t status) {
    switch (status) {
        case kStatusHealthy: return "healthy";
        case kStatusWarning: return "warning";
        case kStatusCritical: return "critical";
        default: return "unknown";
    }
}

std::vector<HopFigures> GatherFigures(const HopList& path, const NodeRegistry& registry) {
    std::vector<HopFigures> figures(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i].address == 0) continue;
        const auto node = registry.GetNodeFigures(path[i].address);
        if (!node || node->count < 1) continue;
        figures[i] = {true, static_cast<float>(node->averageRtt), node->lossPercent,
                      node->jitter};
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
        a.status = kStatusCritical;
    } else if (a.highLatency || a.highLoss || a.highJitter) {
        a.status = kStatusWarning;
    } else {
        a.status = kStatusHealthy;
        a.isHealthy = true;
    }
    return a;
}

int32_t SustainedStart(const std::vector<HopFigures>& figures, Metric metric) {
    int32_t start = -1;
    for (int32_t i = static_cast<int32_t>(figures.size()) - 1; i >= 0; --i) {
        if (!figures[i].hasFigures) continue;  // a silent hop says nothing either way
        if (!AtOrAbove(figures[i], metric)) break;
        start = i;
    }
    return start;
}

std::string SegmentIdForHop(const HopList& path, int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(path.size())) return "unknown";
    const HopRecord& hop = path[index];
    if (hop.segment == kLabelLocal) {
        if (index == 0) return "connection";
        return IsSharedAddressSpace(hop.address) ? "isp" : "homeNetwork";
    }
    if (hop.segment == kLabelDestination) return "services";
    return "isp";
}

Diagnosis Diagnose(const HopList& path, const std::vector<HopFigures>& figures,
                   bool destinationReached) {
    Diagnosis d;
    if (path.empty()) return d;

    if (!destinationReached) {
        // The destination could not be traced: broken somewhere, place unknown.
        d.hasIssue = true;
        d.assessment.status = kStatusCritical;
        SetTexts(d);
        return d;
    }

    int32_t last = static_cast<int32_t>(figures.size()) - 1;
    while (last >= 0 && !figures[last].hasFigures) --last;
    if (last < 0) return d;  // nothing measured yet
    d.assessment = AssessHealth(figures[last]);
    if (d.assessment.isHealthy) return d;

    d.hasIssue = true;
    if (d.assessment.highLatency) {
        d.latencyHop = SustainedStart(figures, Metric::Latency);
        if (d.latencyHop != -1) d.latencySegment = SegmentIdForHop(path, d.latencyHop);
    }
    if (d.assessment.highLoss) {
        d.lossHop = SustainedStart(figures, Metric::Loss);
        if (d.lossHop != -1) d.lossSegment = SegmentIdForHop(path, d.lossHop);
    }
    if (d.assessment.highJitter) {
        d.jitterHop = SustainedStart(figures, Metric::Jitter);
        if (d.jitterHop != -1) d.jitterSegment = SegmentIdForHop(path, d.jitterHop);
    }
    d.culpritHop = d.latencyHop;
    for (const int32_t candidate : {d.lossHop, d.jitterHop}) {
        if (candidate != -1 && (d.culpritHop == -1 || candidate < d.culpritHop)) {
            d.culpritHop = candidate;
        }
    }
    if (d.culpritHop != -1) d.culpritSegment = SegmentIdForHop(path, d.culpritHop);
    SetTexts(d);
    return d;
}

int32_t Hysteresis::UpdateHysteresis(const std::string& segment, int32_t status) {
    const bool impaired = status == kStatusWarning || status == kStatusCritical;
    Entry& e = entries_[segment];
    const uint64_t now = clock_.Tick64();
    const char* id = segment.c_str();
    switch (e.state) {
        case kNone:
            if (impaired) {
                e = {kPending, now};
                LogWrite(Debug, "Hysteresis[%s]: NONE -> PENDING (impairment detected)", id);
            }
            return kStatusHealthy;
        case kPending:
            if (!impaired) {
                e = {kNone, 0};
                LogWrite(Debug, "Hysteresis[%s]: PENDING -> NONE (cleared before entry delay)",
                         id);
                return kStatusHealthy;
            }
            if (now - e.since < kEntryDelayMs) return kStatusHealthy;
            e = {kConfirmed, now};
            LogWrite(Info, "Hysteresis[%s]: PENDING -> CONFIRMED (entry delay elapsed)", id);
            return status;
        case kConfirmed:
            if (!impaired) {
                e = {kClearing, now};
                LogWrite(Debug, "Hysteresis[%s]: CONFIRMED -> CLEARING (impairment resolved)",
                         id);
            }
            return status;
        case kClearing:
            if (impaired) {
                e = {kConfirmed, now};
                LogWrite(Debug, "Hysteresis[%s]: CLEARING -> CONFIRMED (impairment returned)",
                         id);
                return status;
            }
            if (now - e.since < kExitDelayMs) return kStatusWarning;
            e = {kNone, 0};
            LogWrite(Info, "Hysteresis[%s]: CLEARING -> NONE (exit delay elapsed)", id);
            return kStatusHealthy;
    }
    return kStatusHealthy;
}

void Hysteresis::ResetHysteresis() { entries_.clear(); }

Hysteresis::State Hysteresis::StateOf(const std::string& segment) const {
    const auto it = entries_.find(segment);
    return it == entries_.end() ? kNone : it->second.state;
}

Verdict BuildVerdict(const Diagnosis& d, bool pathEmpty, const LinkFacts& link,
                     Hysteresis& hysteresis) {
    Verdict v;
    Callout& c = v.callout;
    c.show = d.hasIssue;
    c.severity = d.assessment.status;
    c.segmentId = d.culpritSegment;
    c.title = d.title;
    c.description = d.description;
    c.remedy = d.remedy;

    if (!d.hasIssue) {
        for (const char* id : kSegmentIds) hysteresis.UpdateHysteresis(id, kStatusHealthy);
        for (const char* id : kSegmentIds) {
            const auto state = hysteresis.StateOf(id);
            if (state == Hysteresis::kConfirmed || state == Hysteresis::kClearing) {
                c.show = true;
                c.severity = kStatusWarning;
                if (c.title.empty()) {
                    c.title = "Network Stabilizing";
                    c.description = "Recent network issues are resolving.";
                    c.remedy = "Monitoring for stability.";
                }
                break;
            }
        }
    } else {
        if (!d.culpritSegment.empty()) {
            const int32_t effective =
                hysteresis.UpdateHysteresis(d.culpritSegment, d.assessment.status);
            if (effective == kStatusHealthy) {
                c = Callout{};
            } else {
                c.severity = effective;
            }
        }
        for (const char* id : kSegmentIds) {
            if (d.culpritSegment != id) hysteresis.UpdateHysteresis(id, kStatusHealthy);
        }
    }

    int32_t linkStatus;
    if (link.wifiConnected) {
        linkStatus = link.signalQuality < 30   ? kStatusCritical
                     : link.signalQuality < 50 ? kStatusWarning
                                               : kStatusHealthy;
    } else {
        linkStatus = link.hasGateway ? kStatusHealthy : kStatusUnknown;
    }

    v.segmentStatus = {kStatusHealthy, linkStatus, kStatusUnknown, kStatusUnknown,
                       kStatusUnknown};
    if (c.show) {
        for (int i = 1; i < kSegmentCount; ++i) {
            if (c.segmentId == kSegmentIds[i]) v.segmentStatus[i] = c.severity;
        }
    } else if (!pathEmpty) {
        v.segmentStatus[2] = v.segmentStatus[3] = v.segmentStatus[4] = kStatusHealthy;
    }

    if (pathEmpty) {
        v.overallStatus = "unknown";
    } else {
        v.overallStatus = c.show ? StatusText(c.severity) : "healthy";
    }
    return v;
}

}  // namespace quillon
