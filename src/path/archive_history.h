// The history the page shows for a period (last hour, day or week), read from the archive:
// every hop's echoes summed into a fixed number of time buckets (mean round-trip time and
// loss per bucket) and the verdicts as periods of time. Bounded whatever the archive holds:
// the buckets are fixed, and a path that kept changing is cut to the hops with most echoes.
// Runs on a worker: a week is a few hundred megabytes to read.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "path/archive_format.h"

namespace quillon {

struct HopHistory {
    int32_t hopNumber = 0;
    std::string ip;
    std::vector<double> rttSum;      // per bucket, of the answered echoes
    std::vector<uint32_t> answered;  // per bucket
    std::vector<uint32_t> echoes;    // per bucket, answered or not
    uint64_t total = 0;
};

struct VerdictPeriod {
    int64_t fromMs = 0, toMs = 0;
    VerdictRecord verdict;
};

struct History {
    int64_t fromMs = 0, toMs = 0, bucketMs = 0;
    size_t buckets = 0;
    std::vector<HopHistory> hops;  // by hop number, then address
    std::vector<VerdictPeriod> verdicts;
    uint64_t records = 0;  // sample lines read within the period
    uint64_t skipped = 0;  // lines that could not be read
    size_t files = 0;
    std::string error;
};

struct HistoryRequest {
    std::string folder;
    int64_t fromMs = 0, toMs = 0;
    size_t buckets = 360;
    // The local offset from UTC now, to find the files of the period's local days.
    int offsetMinutes = 0;
    // The last verdict is the one shown now: it lasts until toMs (else until the archive's
    // last echo after it, as for a run that ended without saying so).
    bool lastVerdictCurrent = true;
    size_t maxHops = 40;
    // Set by another thread to end the reading early (the result is then incomplete).
    const std::atomic<bool>* stop = nullptr;
};

History ReadHistory(const HistoryRequest& request);

// The "history" message for the page (docs/bridge.md).
std::string HistoryMessage(const History& history, std::string_view period);

}  // namespace quillon
