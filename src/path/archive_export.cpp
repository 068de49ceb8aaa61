#include "path/archive_export.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/fs_path.h"
#include "base/time_text.h"
#include "path/archive_format.h"
#include "path/archive_reader.h"
#include "path/json_text.h"

namespace quillon {

namespace {

// A CSV field, quoted when it holds a separator, a quote or a line break.
void AppendCsvField(std::string& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += text;
        return;
    }
    out += '"';
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

constexpr char kSampleCsvHeader[] = "ts,hop,ttl,rtt_ms,timeout\n";
constexpr char kVerdictCsvHeader[] =
    "ts,status,segment,title,hop,ip,rtt_ms,loss_percent,jitter_ms,trigger,trigger_value\n";

void AppendSampleCsv(std::string& out, const ArchiveRecord& r) {
    AppendCsvField(out, r.ts);
    out += ',';
    AppendCsvField(out, r.hop);
    out += ',' + std::to_string(r.ttl) + ',';
    if (!r.timedOut) out += std::to_string(r.rttMs);
    out += r.timedOut ? ",true\n" : ",false\n";
}

void AppendVerdictCsv(std::string& out, const VerdictRecord& r) {
    for (const std::string* field : {&r.ts, &r.status, &r.segmentId, &r.title}) {
        AppendCsvField(out, *field);
        out += ',';
    }
    if (r.hopNumber >= 0) {
        out += std::to_string(r.hopNumber) + ',';
        AppendCsvField(out, r.ip);
        out += ',';
        AppendFixed(out, r.rttMs, 1);
        out += ',';
        AppendFixed(out, r.lossPercent, 1);
        out += ',';
        AppendFixed(out, r.jitterMs, 1);
        out += ',';
    } else {
        out += ",,,,,";
    }
    AppendCsvField(out, r.trigger);
    out += ',';
    if (!r.trigger.empty()) AppendFixed(out, r.triggerValue, 1);
    out += '\n';
}

// JSON array elements are the archive's own lines, one per line.
void AppendJsonElement(std::string& out, std::string& line, bool first) {
    out += first ? "\n" : ",\n";
    if (!line.empty() && line.back() == '\n') line.pop_back();
    out += line;
}

}  // namespace

ExportSummary ExportArchive(const ExportRequest& request, std::FILE* out) {
    ExportSummary summary;
    const bool samples = request.data == ExportData::Samples;
    const bool csv = request.format == ExportFormat::Csv;
    std::string buffer = csv ? (samples ? kSampleCsvHeader : kVerdictCsvHeader) : "[";
    std::string line;
    bool writeFailed = false;
    const auto drain = [&](bool always) {
        if (!always && buffer.size() < (1 << 16)) return;
        if (!writeFailed && std::fwrite(buffer.data(), 1, buffer.size(), out) != buffer.size()) {
            writeFailed = true;
            summary.error = std::string("cannot write the export: ") + std::strerror(errno);
        }
        buffer.clear();
    };
    const auto inWindow = [&](const std::string& ts) {
        if (!request.fromMs && !request.toMs) return true;
        const std::optional<int64_t> at = ParseIsoTime(ts);
        return at && (!request.fromMs || *at >= *request.fromMs) &&
               (!request.toMs || *at < *request.toMs);
    };
    const auto files =
        ArchiveFilesBetween(request.folder, samples ? kSampleFilePrefix : kVerdictFilePrefix,
                            request.firstDay, request.lastDay);
    for (const ArchiveFile& file : files) {
        if (writeFailed) break;
        const LineCounts counts = ForEachArchiveLine(
            file.path,
            [&](std::string_view text) {
                line.clear();
                if (samples) {
                    const std::optional<ArchiveRecord> record = ParseSampleLine(text);
                    if (!record || !ParseIsoTime(record->ts)) {
                        ++summary.skipped;
                        return;
                    }
                    if (!inWindow(record->ts)) return;
                    if (csv) {
                        AppendSampleCsv(buffer, *record);
                    } else {
                        AppendSampleLine(line, *record);
                        AppendJsonElement(buffer, line, summary.records == 0);
                    }
                } else {
                    const std::optional<VerdictRecord> record = ParseVerdictLine(text);
                    if (!record) {
                        ++summary.skipped;
                        return;
                    }
                    if (!inWindow(record->ts)) return;
                    if (csv) {
                        AppendVerdictCsv(buffer, *record);
                    } else {
                        AppendVerdictLine(line, *record);
                        AppendJsonElement(buffer, line, summary.records == 0);
                    }
                }
                ++summary.records;
                drain(false);
            },
            request.stop);
        summary.skipped += counts.tooLong;
        if (counts.opened) ++summary.files;
    }
    if (request.stop != nullptr && *request.stop) {
        summary.error = "the export was stopped";
        writeFailed = true;
    }
    if (!csv) buffer += "\n]\n";
    drain(true);
    if (!writeFailed && std::fflush(out) != 0) {
        writeFailed = true;
        summary.error = std::string("cannot write the export: ") + std::strerror(errno);
    }
    summary.ok = !writeFailed;
    return summary;
}

ExportSummary ExportArchiveToFile(const ExportRequest& request, const std::string& path) {
    const std::string partial = path + ".part";
    std::FILE* out = OpenFile(partial, "wb");
    if (out == nullptr) {
        ExportSummary failed;
        failed.error = "cannot create " + partial + ": " + std::strerror(errno);
        return failed;
    }
    ExportSummary summary = ExportArchive(request, out);
    if (std::fclose(out) != 0 && summary.ok) {
        summary.ok = false;
        summary.error = std::string("cannot write the export: ") + std::strerror(errno);
    }
    std::error_code ec;
    if (summary.ok) {
        std::filesystem::rename(FsPath(partial), FsPath(path), ec);
        if (ec) {
            summary.ok = false;
            summary.error = "cannot rename " + partial + " to " + path + ": " + ec.message();
        }
    }
    if (!summary.ok) std::filesystem::remove(FsPath(partial), ec);
    return summary;
}

}  // namespace quillon
