// RatioReporter: the console report of Google Benchmark, plus the real time of each benchmark
// so that a program can print how two of them compare ("ours / theirs") after the run. The
// mean aggregate is used when repetitions ran, else the mean of the iteration runs.
#pragma once

#include <benchmark/benchmark.h>

#include <iomanip>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
public:
    RatioReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.str();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean") {
                means_[name] = run.GetAdjustedRealTime();
            } else if (run.run_type == Run::RT_Iteration) {
                auto& [sum, count] = times_[name];
                sum += run.GetAdjustedRealTime();
                ++count;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Prints "label: a/b" with two decimals, or n/a when either did not run.
    void PrintRatio(const std::string& label, const std::string& a, const std::string& b) const {
        std::ostream& out = GetOutputStream();
        out << label << ": ";
        const double x = Mean(a), y = Mean(b);
        if (x <= 0 || y <= 0) {
            out << "n/a\n";
            return;
        }
        out << std::fixed << std::setprecision(2) << x / y << '\n';
    }

private:
    double Mean(const std::string& name) const {
        if (const auto it = means_.find(name); it != means_.end()) return it->second;
        const auto it = times_.find(name);
        return it == times_.end() ? 0 : it->second.first / it->second.second;
    }

    std::map<std::string, std::pair<double, int>> times_;
    std::map<std::string, double> means_;
};
