// LogCapture: the diagnostic log's lines kept in memory while the capture lives, exactly as the
// file gets them (the log must be open for anything to be written). TestLog also opens the log
// in a simulated system's folder and closes it at the end. The log is process-wide: one
// capture at a time. Lines may arrive from any thread.
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/log.h"
#include "platform/log_environment.h"

namespace quillon::test {

class LogCapture {
public:
    LogCapture() {
        SetLogSink([this](std::string_view line) {
            std::lock_guard lock(mutex_);
            text_.append(line);
        });
    }
    ~LogCapture() { SetLogSink({}); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything written so far, line ends included.
    std::string Text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }
    // How often `text` occurs in it.
    int Count(std::string_view text) const {
        const std::string all = Text();
        int n = 0;
        for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) {
            ++n;
        }
        return n;
    }
    // The lines that contain any of `marks`, in order, as "[LEVEL] message": without the
    // timestamp and the line end.
    std::vector<std::string> Lines(const std::vector<std::string>& marks) const {
        const std::string all = Text();
        std::vector<std::string> out;
        for (size_t start = 0, end; (end = all.find("\r\n", start)) != std::string::npos;
             start = end + 2) {
            const std::string line = all.substr(start, end - start);
            for (const std::string& mark : marks) {
                if (line.find(mark) != std::string::npos) {
                    out.push_back(line.substr(line.find("] [") + 2));
                    break;
                }
            }
        }
        return out;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

// The log opened over simulated ports for the lifetime of this object, and captured.
class TestLog : public LogCapture {
public:
    TestLog(System& system, Clock& clock) { InitializeLogging(system, clock); }
    ~TestLog() { ShutdownLogging(); }
};

}  // namespace quillon::test
