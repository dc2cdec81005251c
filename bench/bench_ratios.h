#pragma once

// A console reporter that also keeps each benchmark's real time a run, so a
// benchmark program can print the ratios its figures are stated in.

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace quarvel::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                m_times[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    // The time of `name` over that of `base`; 0 when either did not run.
    double Ratio(const std::string& name, const std::string& base) const {
        const auto a = m_times.find(name);
        const auto b = m_times.find(base);
        return a == m_times.end() || b == m_times.end() || b->second <= 0 ? 0.0
                                                                          : a->second / b->second;
    }

private:
    std::map<std::string, double> m_times;
};

} // namespace quarvel::bench
