#include "path/path_monitor.h"

#include <algorithm>
#include <unordered_map>

#include "base/log.h"
#include "discovery/address_text.h"
#include "platform/clock.h"
#include "platform/icmp_api.h"
#include "platform/threads.h"

namespace quillon {

std::vector<Destination> DefaultDestinations() {
    return {{Ipv4Address(1, 1, 1, 1), "Cloudflare DNS", true},
            {Ipv4Address(8, 8, 8, 8), "Google DNS", false}};
}

PathMonitor::PathMonitor(PathPorts ports, EventSink trackEvent)
    : ports_(ports),
      registry_(ports.clock),
      prober_(ports.icmp, registry_, &ports.clock),
      lookups_(ports.dns),
      hysteresis_(ports.clock),
      discovery_(PathDiscoveryContext{ports.clock, ports.netInfo, registry_, currentPath_, prober_,
                                      lookups_, std::move(trackEvent)}),
      publicIp_(ports.sockets == nullptr
                    ? nullptr
                    : std::make_unique<PublicIpService>(PublicIpContext{
                          *ports.sockets, ports.threads, ports.clock, lookups_, ports.stunServer,
                          [this] { return discovery_.Generation(); }})),
      publicIpView_(publicIp_.get()),
      builder_(NetworkStateContext{
          ports.system, ports.netInfo, registry_, currentPath_, hysteresis_,
          [this] { return discovery_.DestinationUnreached(); },
          [this] { return IcmpBlockedHint(); }, [this] { return discovery_.DestinationSilent(); },
          nullptr, &publicIpView_}) {}

std::string PathMonitor::IcmpBlockedHint() const {
    if (prober_.SharedHandleOpen()) return {};
    std::string hint = ports_.icmp.PermissionHint();
    if (hint.empty()) hint = "Check that no security software blocks ping (ICMP echo) messages.";
    return hint;
}

PathMonitor::~PathMonitor() {
    std::unique_lock lock(workersMutex_);
    workersIdle_.wait(lock, [this] { return workers_ == 0; });
}

void PathMonitor::AddDestinations(const std::vector<Destination>& destinations) {
    for (const Destination& d : destinations) registry_.AddDestination(d);
    LogWrite(Info, "Initialized %zu default destinations", destinations.size());
}

bool PathMonitor::StartDiscoveryCycle(std::function<void()> then) {
    {
        std::lock_guard lock(workersMutex_);
        if (discovery_.Stopping()) return false;
        ++workers_;
    }
    const bool started = ports_.threads.StartDetached([this, then = std::move(then)] {
        discovery_.RunDiscoveryCycle();
        if (then && !discovery_.Stopping()) then();
        std::lock_guard lock(workersMutex_);
        if (--workers_ == 0) workersIdle_.notify_all();
    });
    if (!started) {
        std::lock_guard lock(workersMutex_);
        if (--workers_ == 0) workersIdle_.notify_all();
        LogWrite(Error, "Failed to start path discovery worker");
    }
    return started;
}

bool PathMonitor::Stop(std::chrono::milliseconds bound) {
    // Real time, not the clock port: this bounds how long a person waits for the process to end.
    const auto deadline = std::chrono::steady_clock::now() + bound;
    bool idle;
    {
        std::unique_lock lock(workersMutex_);
        discovery_.Stop();
        idle = workersIdle_.wait_until(lock, deadline, [this] { return workers_ == 0; });
    }
    if (publicIp_) {
        const auto left = std::max(deadline - std::chrono::steady_clock::now(),
                                   std::chrono::steady_clock::duration::zero());
        idle = publicIp_->Stop(std::chrono::duration_cast<std::chrono::milliseconds>(left)) && idle;
    }
    return idle;
}

std::optional<std::string> PathMonitor::MeasurementTick(uint32_t regularMs) {
    const uint64_t now = ports_.clock.Tick64();
    size_t echoes = 0;
    if (!prober_.SharedHandleOpen() &&
        (lastIcmpAttempt_ == 0 || now - lastIcmpAttempt_ >= kIcmpRetryMs)) {
        // Permission may have been granted since: try again now and then.
        lastIcmpAttempt_ = now;
        if (prober_.OpenSharedHandle()) LogWrite(Info, "ICMP is available again");
    }
    if (prober_.SharedHandleOpen()) {
        if (discovery_.CycleWanted()) StartDiscoveryCycle();
        if (discovery_.PrimaryDone()) {
            const bool regular = lastSweepRegular_;
            std::vector<ProbeResult> archived;
            prober_.CollectEchoReplies(
                [&](Ipv4Address address, uint32_t rttMs, bool timedOut, uint64_t sentAtMs) {
                    registry_.RecordSample(address, rttMs, timedOut, regular, sentAtMs);
                    ++echoes;
                    // The extra echoes of evidence gathering would multiply the archive.
                    if (archive_ != nullptr && regular) {
                        archived.push_back({0, address, rttMs, timedOut});
                    }
                });
            if (!archived.empty()) ArchiveEchoes(archived);
            collected_ = now - lastSweep_ >= kEvidenceTickMs;
            // Ticks a little early still count: timers are not exact.
            const uint64_t slack = kEvidenceTickMs / 2;
            const bool regularDue =
                lastRegularSweep_ == 0 || now - lastRegularSweep_ + slack >= regularMs;
            if (regularDue || evidenceSince_ != 0) {
                prober_.SendEchoSweep();
                lastSweep_ = now;
                lastSweepRegular_ = regularDue;
                if (regularDue) lastRegularSweep_ = now;
                collected_ = false;
            }
        }
    }
    std::shared_ptr<const HopList> path = currentPath_.Snapshot();
    const bool nothingNew = echoes == 0 && path == lastBuiltPath_ && discovery_.PrimaryDone() &&
                            prober_.SharedHandleOpen() && lastBuild_ != 0 &&
                            now - lastBuild_ < regularMs && SourceChanges() == lastSourceChanges_;
    if (nothingNew) {
        if (archive_ != nullptr) archive_->FlushIfDue();
        return std::nullopt;
    }
    lastBuild_ = now;
    lastBuiltPath_ = std::move(path);
    // Read before the build: a change that comes in during it is news for the next tick.
    lastSourceChanges_ = SourceChanges();
    std::string state = builder_.BuildNetworkState();
    if (archive_ != nullptr) {
        ArchiveVerdict();
        archive_->FlushIfDue();
    }
    return state;
}

void PathMonitor::ArchiveEchoes(const std::vector<ProbeResult>& echoes) {
    // Hop numbers as traced, the primary destination's path first.
    std::unordered_map<Ipv4Address, int32_t> hopNumbers;
    std::vector<Destination> destinations = registry_.GetDestinations();
    std::stable_partition(destinations.begin(), destinations.end(),
                          [](const Destination& d) { return d.isPrimary; });
    for (const Destination& destination : destinations) {
        const std::optional<DiscoveredPath> traced = registry_.GetPath(destination.address);
        if (!traced) continue;
        for (size_t i = 0; i < traced->hops.size(); ++i) {
            if (!traced->hops[i].IsZero()) {
                hopNumbers.try_emplace(traced->hops[i], static_cast<int32_t>(i + 1));
            }
        }
    }
    for (const ProbeResult& echo : echoes) {
        const auto known = hopNumbers.find(echo.address);
        archive_->AddSample(echo.address.Text(), known == hopNumbers.end() ? 0 : known->second,
                            echo.rttMs, echo.timedOut);
    }
}

void PathMonitor::ArchiveVerdict() {
    const Verdict& verdict = builder_.LastVerdict();
    VerdictRecord record;
    record.status = StatusText(verdict.overall);
    if (verdict.callout.show) {
        record.title = verdict.callout.title;
        if (verdict.callout.segment) record.segmentId = SegmentId(*verdict.callout.segment);
    }
    const VerdictReason& reason = builder_.LastReason();
    if (reason.hopNumber >= 0) {
        record.hopNumber = reason.hopNumber;
        record.ip = reason.ip.Text();
        record.rttMs = reason.rttMs;
        record.lossPercent = reason.lossPercent;
        record.jitterMs = reason.jitterMs;
    }
    record.trigger = reason.trigger;
    record.triggerValue = reason.value;
    // A figure that moves is not a new verdict: only what the person is told counts, and the
    // hop it is told about.
    if (lastArchivedVerdict_ && lastArchivedVerdict_->status == record.status &&
        lastArchivedVerdict_->title == record.title &&
        lastArchivedVerdict_->segmentId == record.segmentId &&
        lastArchivedVerdict_->hopNumber == record.hopNumber) {
        return;
    }
    lastArchivedVerdict_ = record;
    archive_->AddVerdict(std::move(record));
}

uint32_t PathMonitor::NextTickDelayMs(uint32_t regularMs) {
    const uint64_t now = ports_.clock.Tick64();
    const bool wanted = builder_.WantsEvidence() && discovery_.PrimaryDone() &&
                        prober_.SharedHandleOpen() && now >= evidenceRestUntil_;
    if (!wanted) {
        evidenceSince_ = 0;
        if (lastRegularSweep_ == 0) return regularMs;
        // Collect the sweep's echoes soon after they are in, then wait for the next sweep.
        const uint64_t collectAt = lastSweep_ + kCollectDelayMs;
        const uint64_t sweepAt = lastRegularSweep_ + regularMs;
        const uint64_t at = !collected_ && collectAt < sweepAt ? collectAt : sweepAt;
        return static_cast<uint32_t>(
            std::clamp<uint64_t>(at > now ? at - now : 0, kEvidenceTickMs / 2, regularMs));
    }
    if (evidenceSince_ == 0) evidenceSince_ = now;
    if (now - evidenceSince_ >= kMaxEvidenceRunMs) {
        LogWrite(Info, "Measuring at the regular pace again after %llu s of extra echoes",
                 static_cast<unsigned long long>((now - evidenceSince_) / 1000));
        evidenceRestUntil_ = now + kMaxEvidenceRunMs;
        evidenceSince_ = 0;
        return regularMs;
    }
    return std::min(regularMs, kEvidenceTickMs);
}

}  // namespace quillon
