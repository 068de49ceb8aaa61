#include "path/archive_history.h"

#include <algorithm>
#include <unordered_map>

#include "base/time_text.h"
#include "path/archive_reader.h"
#include "path/json_text.h"

namespace quillon {

namespace {

constexpr size_t kMaxPeriods = 1000;
// Verdict files read before the period: the verdict shown when it began may be that old.
constexpr int64_t kVerdictLookBackDays = 7;

bool SameVerdict(const VerdictRecord& a, const VerdictRecord& b) {
    return a.status == b.status && a.segmentId == b.segmentId && a.title == b.title &&
           a.hopNumber == b.hopNumber && a.ip == b.ip;
}

void ReadSamples(const HistoryRequest& request, int64_t firstDay, int64_t lastDay, History& history,
                 std::vector<bool>& active) {
    std::unordered_map<std::string, size_t> index;  // "ttl|hop" -> history.hops
    std::string key;
    for (const ArchiveFile& file :
         ArchiveFilesBetween(request.folder, kSampleFilePrefix, firstDay, lastDay)) {
        ++history.files;
        const LineCounts counts = ForEachArchiveLine(
            file.path,
            [&](std::string_view line) {
                const std::optional<ArchiveRecord> record = ParseSampleLine(line);
                const std::optional<int64_t> at = record ? ParseIsoTime(record->ts) : std::nullopt;
                if (!at) {
                    ++history.skipped;
                    return;
                }
                if (*at < history.fromMs || *at >= history.toMs) return;
                ++history.records;
                key.assign(std::to_string(record->ttl)).append("|").append(record->hop);
                auto [it, added] = index.try_emplace(key, history.hops.size());
                if (added) {
                    HopHistory hop;
                    hop.hopNumber = record->ttl;
                    hop.ip = record->hop;
                    hop.rttSum.assign(history.buckets, 0);
                    hop.answered.assign(history.buckets, 0);
                    hop.echoes.assign(history.buckets, 0);
                    history.hops.push_back(std::move(hop));
                }
                HopHistory& hop = history.hops[it->second];
                const auto bucket = static_cast<size_t>((*at - history.fromMs) / history.bucketMs);
                ++hop.echoes[bucket];
                ++hop.total;
                active[bucket] = true;
                if (!record->timedOut) {
                    ++hop.answered[bucket];
                    hop.rttSum[bucket] += record->rttMs;
                }
            },
            request.stop);
        history.skipped += counts.tooLong;
    }
    // A path that kept changing: keep the hops with most echoes.
    if (history.hops.size() > request.maxHops) {
        std::nth_element(
            history.hops.begin(), history.hops.begin() + static_cast<ptrdiff_t>(request.maxHops),
            history.hops.end(),
            [](const HopHistory& a, const HopHistory& b) { return a.total > b.total; });
        history.hops.resize(request.maxHops);
    }
    std::sort(history.hops.begin(), history.hops.end(),
              [](const HopHistory& a, const HopHistory& b) {
                  return a.hopNumber != b.hopNumber ? a.hopNumber < b.hopNumber : a.ip < b.ip;
              });
}

void ReadVerdicts(const HistoryRequest& request, int64_t firstDay, int64_t lastDay,
                  History& history, const std::vector<bool>& active) {
    struct Dated {
        int64_t at;
        VerdictRecord record;
    };
    std::vector<Dated> records;
    for (const ArchiveFile& file : ArchiveFilesBetween(request.folder, kVerdictFilePrefix,
                                                       firstDay - kVerdictLookBackDays, lastDay)) {
        const LineCounts counts = ForEachArchiveLine(
            file.path,
            [&](std::string_view line) {
                std::optional<VerdictRecord> record = ParseVerdictLine(line);
                const std::optional<int64_t> at = record ? ParseIsoTime(record->ts) : std::nullopt;
                if (!at) {
                    ++history.skipped;
                    return;
                }
                if (*at < history.toMs) records.push_back({*at, std::move(*record)});
            },
            request.stop);
        history.skipped += counts.tooLong;
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const Dated& a, const Dated& b) { return a.at < b.at; });

    // The end of the archive's echoes within [from, to), or `from` when there are none: a run
    // that ended without its "stopped" line ended about then.
    const auto lastEchoBefore = [&](int64_t from, int64_t to) -> int64_t {
        for (size_t b = history.buckets; b-- > 0;) {
            const int64_t start = history.fromMs + static_cast<int64_t>(b) * history.bucketMs;
            const int64_t end = start + history.bucketMs;
            if (start >= to) continue;
            if (end <= from) break;
            if (active[b]) return std::min(end, to);
        }
        return from;
    };
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].record.status == "stopped") continue;
        const bool last = i + 1 == records.size();
        int64_t from = records[i].at;
        int64_t to = last ? history.toMs : records[i + 1].at;
        if (!(last && request.lastVerdictCurrent)) to = lastEchoBefore(from, to);
        from = std::max(from, history.fromMs);
        to = std::min(to, history.toMs);
        if (to <= from) continue;
        if (!history.verdicts.empty() && history.verdicts.back().toMs == from &&
            SameVerdict(history.verdicts.back().verdict, records[i].record)) {
            history.verdicts.back().toMs = to;
            continue;
        }
        history.verdicts.push_back({from, to, records[i].record});
    }
    if (history.verdicts.size() > kMaxPeriods) {
        history.verdicts.erase(history.verdicts.begin(),
                               history.verdicts.end() - static_cast<ptrdiff_t>(kMaxPeriods));
    }
}

}  // namespace

History ReadHistory(const HistoryRequest& request) {
    History history;
    history.fromMs = request.fromMs;
    history.buckets = std::max<size_t>(request.buckets, 1);
    const int64_t span = std::max<int64_t>(request.toMs - request.fromMs, 1);
    history.bucketMs = std::max<int64_t>(
        (span + static_cast<int64_t>(history.buckets) - 1) / static_cast<int64_t>(history.buckets),
        1);
    history.toMs = history.fromMs + history.bucketMs * static_cast<int64_t>(history.buckets);
    const ArchiveDays days = ArchiveDaysAround(history.fromMs, history.toMs, request.offsetMinutes);
    const int64_t firstDay = days.first, lastDay = days.last;
    std::vector<bool> active(history.buckets, false);
    ReadSamples(request, firstDay, lastDay, history, active);
    ReadVerdicts(request, firstDay, lastDay, history, active);
    return history;
}

std::string HistoryMessage(const History& history, std::string_view period) {
    JsonText w;
    w.BeginObject().Member("type", "history").Key("payload").BeginObject();
    w.Member("period", period);
    w.Member("from", history.fromMs / 1000).Member("to", history.toMs / 1000);
    w.Member("bucketSeconds", history.bucketMs / 1000);
    w.Key("times").BeginArray();
    for (size_t b = 0; b < history.buckets; ++b) {
        w.Integer((history.fromMs + static_cast<int64_t>(b) * history.bucketMs) / 1000);
    }
    w.EndArray().Key("hops").BeginArray();
    for (const HopHistory& hop : history.hops) {
        w.BeginObject().Member("hopNumber", hop.hopNumber).Member("ip", hop.ip);
        w.Key("rttMs").BeginArray();
        for (size_t b = 0; b < history.buckets; ++b) {
            if (hop.answered[b] == 0) {
                w.Raw("null");
            } else {
                w.Fixed(hop.rttSum[b] / hop.answered[b], 1);
            }
        }
        w.EndArray().Key("loss").BeginArray();
        for (size_t b = 0; b < history.buckets; ++b) {
            if (hop.echoes[b] == 0) {
                w.Raw("null");
            } else {
                w.Fixed(100.0 * (hop.echoes[b] - hop.answered[b]) / hop.echoes[b], 1);
            }
        }
        w.EndArray().EndObject();
    }
    w.EndArray().Key("verdicts").BeginArray();
    for (const VerdictPeriod& period : history.verdicts) {
        const VerdictRecord& v = period.verdict;
        w.BeginObject().Member("from", period.fromMs / 1000).Member("to", period.toMs / 1000);
        w.Member("status", v.status).Member("segmentId", v.segmentId).Member("title", v.title);
        if (v.hopNumber >= 0) {
            w.Member("culpritHopNumber", v.hopNumber).Member("culpritIp", v.ip);
        }
        if (!v.trigger.empty()) {
            w.Member("trigger", v.trigger).MemberFixed("triggerValue", v.triggerValue, 1);
        }
        w.EndObject();
    }
    w.EndArray();
    w.Member("records", static_cast<int64_t>(history.records));
    w.Member("skipped", static_cast<int64_t>(history.skipped));
    if (!history.error.empty()) w.Member("error", history.error);
    w.EndObject().EndObject();
    return w.Take();
}

}  // namespace quillon
