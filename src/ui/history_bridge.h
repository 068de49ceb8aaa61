// HistoryBridge: the page's look back at the archive. "get_history" reads a period (last hour,
// day or week) into the "history" message; "export_history" saves the period's samples as a
// CSV or JSON file in the user's downloads folder and says where ("historyExport"). Both read
// files that may be large, so they run on one worker, never on the UI thread; a request made
// while the worker is busy waits (a newer one of the same kind replaces it).
//
// Requests: UI thread. The worker posts its replies through the page host, which must outlive
// the bridge; Stop ends the worker early at shutdown.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace quillon {

class Clock;
class PingArchive;
class System;
class Threads;
class WebViewHost;

struct HistoryPorts {
    Clock& clock;
    Threads& threads;
    System& system;
};

class HistoryBridge {
public:
    HistoryBridge(WebViewHost& host, PingArchive& archive, HistoryPorts ports)
        : host_(host), archive_(archive), ports_(ports) {}
    ~HistoryBridge();  // waits for the worker
    HistoryBridge(const HistoryBridge&) = delete;
    HistoryBridge& operator=(const HistoryBridge&) = delete;

    void RequestHistory(const std::string& period);
    void RequestExport(const std::string& period, const std::string& format);

    // Shutdown: the worker drops what waits and stops reading. False when it did not end
    // within `bound`; the bridge must then not be destroyed.
    bool Stop(std::chrono::milliseconds bound);

    // The length of a period the page names; 0 for none.
    static int64_t PeriodMs(const std::string& period);

private:
    struct Job {
        std::string folder;  // the archive's
        std::string period;
        std::string format;  // exports only
        int64_t nowMs = 0;
        int offsetMinutes = 0;
        std::string stamp;  // "YYYYMMDD-HHMM", local, for the export's file name
    };

    std::optional<Job> MakeJob(const std::string& period, const char* replyType);
    void Start();
    void Work();
    std::string History(const Job& job);
    std::string Export(const Job& job);

    WebViewHost& host_;
    PingArchive& archive_;
    HistoryPorts ports_;

    std::mutex mutex_;
    std::condition_variable idle_;
    std::optional<Job> history_, export_;  // waiting
    bool running_ = false;
    bool stopping_ = false;
    std::atomic<bool> stop_ = false;
};

}  // namespace quillon
