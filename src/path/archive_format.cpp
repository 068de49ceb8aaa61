#include "path/archive_format.h"

#include <cstdio>
#include <exception>

#include "base/json_value.h"
#include "base/time_text.h"
#include "path/json_text.h"

namespace quillon {

namespace {

constexpr size_t kMaxTextBytes = 255;

// At most kMaxTextBytes, cut before a UTF-8 continuation byte rather than inside a character.
std::string_view Capped(std::string_view text) {
    if (text.size() <= kMaxTextBytes) return text;
    size_t end = kMaxTextBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

void AppendEscaped(std::string& out, std::string_view text) {
    for (const char c : Capped(text)) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
}

// A cursor over one line that accepts exactly the expected pieces.
class LineReader {
public:
    explicit LineReader(std::string_view line) : line_(line) {}

    bool Literal(std::string_view piece) {
        if (line_.substr(at_, piece.size()) != piece) return false;
        at_ += piece.size();
        return true;
    }
    // The rest of a string whose opening quote has been read, through its closing quote.
    bool String(std::string& out) {
        while (at_ < line_.size()) {
            const char c = line_[at_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= line_.size()) return false;
            switch (line_[at_++]) {
                case 't':
                    out += '\t';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'u': {
                    // Only the control characters the writer escapes this way.
                    if (!Literal("00")) return false;
                    int value = 0;
                    for (int i = 0; i < 2; ++i) {
                        if (at_ >= line_.size()) return false;
                        const char h = line_[at_++];
                        const int digit = h >= '0' && h <= '9'   ? h - '0'
                                          : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                          : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                                                 : -1;
                        if (digit < 0) return false;
                        value = value * 16 + digit;
                    }
                    if (value >= 0x80) return false;
                    out += static_cast<char>(value);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }
    bool Number(int64_t& out, bool allowNegative, int64_t max) {
        bool negative = false;
        if (allowNegative && at_ < line_.size() && line_[at_] == '-') {
            negative = true;
            ++at_;
        }
        const size_t start = at_;
        int64_t value = 0;
        while (at_ < line_.size() && line_[at_] >= '0' && line_[at_] <= '9') {
            value = value * 10 + (line_[at_++] - '0');
            if (value > max) return false;
        }
        if (at_ == start) return false;
        out = negative ? -value : value;
        return true;
    }
    bool AtEnd() const { return at_ == line_.size(); }

private:
    std::string_view line_;
    size_t at_ = 0;
};

}  // namespace

std::string ArchiveFileName(std::string_view prefix, int64_t days) {
    std::string name(prefix);
    name += CompactDateText(days);
    name += kArchiveFileSuffix;
    return name;
}

std::optional<int64_t> ArchiveFileDay(std::string_view prefix, std::string_view fileName) {
    const std::string_view suffix = kArchiveFileSuffix;
    if (fileName.size() != prefix.size() + 8 + suffix.size() ||
        fileName.substr(0, prefix.size()) != prefix ||
        fileName.substr(fileName.size() - suffix.size()) != suffix) {
        return std::nullopt;
    }
    const std::string_view digits = fileName.substr(prefix.size(), 8);
    std::string dashed;
    dashed.append(digits.substr(0, 4)).append("-").append(digits.substr(4, 2)).append("-");
    dashed.append(digits.substr(6, 2));
    return ParseDateText(dashed);
}

void AppendSampleLine(std::string& out, const ArchiveRecord& record) {
    out += "{\"ts\":\"";
    AppendEscaped(out, record.ts);
    out += "\",\"hop\":\"";
    AppendEscaped(out, record.hop);
    out += "\",\"ttl\":";
    out += std::to_string(record.ttl);
    if (record.timedOut) {
        out += ",\"timeout\":true}\n";
    } else {
        out += ",\"rtt\":";
        out += std::to_string(record.rttMs);
        out += "}\n";
    }
}

std::optional<ArchiveRecord> ParseSampleLine(std::string_view line) {
    ArchiveRecord record;
    LineReader r(line);
    int64_t ttl = 0;
    if (!r.Literal("{\"ts\":\"") || !r.String(record.ts) || !r.Literal(",\"hop\":\"") ||
        !r.String(record.hop) || !r.Literal(",\"ttl\":") || !r.Number(ttl, true, 1 << 30)) {
        return std::nullopt;
    }
    record.ttl = static_cast<int32_t>(ttl);
    if (r.Literal(",\"timeout\":true}")) {
        record.timedOut = true;
    } else {
        int64_t rtt = 0;
        if (!r.Literal(",\"rtt\":") || !r.Number(rtt, false, UINT32_MAX) || !r.Literal("}")) {
            return std::nullopt;
        }
        record.rttMs = static_cast<uint32_t>(rtt);
    }
    if (!r.AtEnd()) return std::nullopt;
    return record;
}

void AppendVerdictLine(std::string& out, const VerdictRecord& record) {
    JsonText w;
    w.BeginObject().Member("ts", Capped(record.ts)).Member("status", Capped(record.status));
    if (record.status != "stopped") {
        w.Member("segmentId", Capped(record.segmentId)).Member("title", Capped(record.title));
        if (record.hopNumber >= 0) {
            w.Member("hopNumber", record.hopNumber).Member("ip", Capped(record.ip));
            w.MemberFixed("rttMs", record.rttMs, 1).MemberFixed("loss", record.lossPercent, 1);
            w.MemberFixed("jitter", record.jitterMs, 1);
        }
        if (!record.trigger.empty()) {
            w.Member("trigger", Capped(record.trigger));
            w.MemberFixed("triggerValue", record.triggerValue, 1);
        }
    }
    w.EndObject();
    out += w.Text();
    out += '\n';
}

std::optional<VerdictRecord> ParseVerdictLine(std::string_view line) {
    if (line.empty() || line.front() != '{' || line.back() != '}') return std::nullopt;
    JsonValue value;
    try {
        value = JsonValue::parse(line);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (value.type() != JsonType::Object) return std::nullopt;
    const auto text = [&](std::string_view key) -> std::string {
        const JsonValue& member = value.member(key);
        return member.type() == JsonType::String ? member.asString() : std::string();
    };
    const auto number = [&](std::string_view key) -> double {
        const JsonValue& member = value.member(key);
        if (member.type() == JsonType::Integer) return static_cast<double>(member.asInteger());
        return member.type() == JsonType::Number ? member.asDouble() : 0.0;
    };
    VerdictRecord record;
    record.ts = text("ts");
    record.status = text("status");
    if (!ParseIsoTime(record.ts) || record.status.empty()) return std::nullopt;
    record.segmentId = text("segmentId");
    record.title = text("title");
    const JsonValue& hop = value.member("hopNumber");
    if (hop.type() == JsonType::Integer && hop.asInteger() >= 0 && hop.asInteger() < 256) {
        record.hopNumber = static_cast<int32_t>(hop.asInteger());
        record.ip = text("ip");
        record.rttMs = number("rttMs");
        record.lossPercent = number("loss");
        record.jitterMs = number("jitter");
    }
    record.trigger = text("trigger");
    if (!record.trigger.empty()) record.triggerValue = number("triggerValue");
    return record;
}

}  // namespace quillon
