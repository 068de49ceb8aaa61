#include "ui/history_bridge.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/fs_path.h"
#include "base/log.h"
#include "base/time_text.h"
#include "path/archive_export.h"
#include "path/archive_history.h"
#include "path/archive_reader.h"
#include "path/json_text.h"
#include "path/ping_archive.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "platform/threads.h"
#include "ui/webview_host.h"

namespace quillon {

namespace {

constexpr int64_t kDayMs = 86400000;

std::string Reply(const char* type, const std::string& error) {
    JsonText w;
    w.BeginObject().Member("type", type).Key("payload").BeginObject();
    if (std::string_view(type) == "historyExport") w.Member("ok", false);
    w.Member("error", error).EndObject().EndObject();
    return w.Take();
}

}  // namespace

HistoryBridge::~HistoryBridge() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    stop_ = true;
    idle_.wait(lock, [this] { return !running_; });
}

int64_t HistoryBridge::PeriodMs(const std::string& period) {
    if (period == "hour") return kDayMs / 24;
    if (period == "day") return kDayMs;
    if (period == "week") return 7 * kDayMs;
    return 0;
}

std::optional<HistoryBridge::Job> HistoryBridge::MakeJob(const std::string& period,
                                                         const char* replyType) {
    if (PeriodMs(period) == 0) {
        host_.PostJson(Reply(replyType, "Unknown period \"" + period + "\"."));
        return std::nullopt;
    }
    if (!archive_.Initialised()) {
        host_.PostJson(Reply(replyType,
                             "Measurements are not being recorded: the data folder could not be "
                             "created (see the log)."));
        return std::nullopt;
    }
    // What waits in memory belongs to the period too.
    archive_.Flush();
    const LocalTime local = ports_.clock.Local();
    const int64_t unixSeconds = ports_.clock.UnixSeconds();
    Job job;
    job.folder = archive_.Folder();
    job.period = period;
    job.nowMs = unixSeconds * 1000 + local.millisecond;
    job.offsetMinutes = OffsetMinutes(local, unixSeconds);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d", local.year, local.month, local.day,
                  local.hour, local.minute);
    job.stamp = stamp;
    return job;
}

void HistoryBridge::RequestHistory(const std::string& period) {
    std::optional<Job> job = MakeJob(period, "history");
    if (!job) return;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        history_ = std::move(job);
    }
    Start();
}

void HistoryBridge::RequestExport(const std::string& period, const std::string& format) {
    if (format != "csv" && format != "json") {
        host_.PostJson(Reply("historyExport", "Unknown format \"" + format + "\"."));
        return;
    }
    std::optional<Job> job = MakeJob(period, "historyExport");
    if (!job) return;
    job->format = format;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        export_ = std::move(job);
    }
    Start();
}

void HistoryBridge::Start() {
    {
        std::lock_guard lock(mutex_);
        if (running_) return;  // the worker takes the new request when it is done
        running_ = true;
    }
    if (!ports_.threads.StartDetached([this] { Work(); })) {
        LogWrite(Error, "History: no worker could be started");
        std::lock_guard lock(mutex_);
        running_ = false;
        history_.reset();
        export_.reset();
        idle_.notify_all();
    }
}

void HistoryBridge::Work() {
    while (true) {
        std::optional<Job> job;
        bool isExport = false;
        {
            std::lock_guard lock(mutex_);
            if (stopping_ || (!history_ && !export_)) {
                running_ = false;
                idle_.notify_all();
                return;
            }
            isExport = !history_;
            job = std::move(isExport ? export_ : history_);
            (isExport ? export_ : history_).reset();
        }
        std::string reply = isExport ? Export(*job) : History(*job);
        if (!stop_) host_.PostJsonFromAnyThread(std::move(reply));
    }
}

std::string HistoryBridge::History(const Job& job) {
    HistoryRequest request;
    request.folder = job.folder;
    request.toMs = job.nowMs;
    request.fromMs = job.nowMs - PeriodMs(job.period);
    request.offsetMinutes = job.offsetMinutes;
    request.stop = &stop_;
    const quillon::History history = ReadHistory(request);
    if (history.skipped > 0) {
        LogWrite(Warn, "History: %llu archive lines could not be read",
                 static_cast<unsigned long long>(history.skipped));
    }
    return HistoryMessage(history, job.period);
}

std::string HistoryBridge::Export(const Job& job) {
    const std::string downloads = ports_.system.DownloadsFolderPath();
    if (downloads.empty())
        return Reply("historyExport", "There is no downloads folder to save to.");
    std::error_code ec;
    std::filesystem::create_directories(FsPath(downloads), ec);
    const std::string base = downloads + kPathSeparator + "quillon-history-" + job.stamp;
    const std::string extension = "." + job.format;
    std::string path = base + extension;
    for (int n = 2; std::filesystem::exists(FsPath(path), ec) && n < 1000; ++n) {
        path = base + "-" + std::to_string(n) + extension;
    }
    ExportRequest request;
    request.folder = job.folder;
    request.fromMs = job.nowMs - PeriodMs(job.period);
    request.toMs = job.nowMs;
    const ArchiveDays days = ArchiveDaysAround(*request.fromMs, *request.toMs, job.offsetMinutes);
    request.firstDay = days.first;
    request.lastDay = days.last;
    request.format = job.format == "csv" ? ExportFormat::Csv : ExportFormat::Json;
    request.stop = &stop_;
    const ExportSummary summary = ExportArchiveToFile(request, path);
    if (!summary.ok) {
        LogWrite(Error, "History export failed: %s", summary.error.c_str());
        return Reply("historyExport", "The export failed: " + summary.error + ".");
    }
    LogWrite(Info, "History exported: %llu records to %s",
             static_cast<unsigned long long>(summary.records), path.c_str());
    JsonText w;
    w.BeginObject().Member("type", "historyExport").Key("payload").BeginObject();
    w.Member("ok", true).Member("path", path);
    w.Member("records", static_cast<int64_t>(summary.records));
    w.Member("skipped", static_cast<int64_t>(summary.skipped));
    w.EndObject().EndObject();
    return w.Take();
}

bool HistoryBridge::Stop(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    stop_ = true;
    history_.reset();
    export_.reset();
    // Real time: this bounds how long a person waits for the process to end.
    return idle_.wait_for(lock, bound, [this] { return !running_; });
}

}  // namespace quillon
