#pragma once

#include <algorithm>
#include <benchmark/benchmark.h>
#include <map>
#include <string>
#include <vector>

namespace corvane {

// Prints as the console reporter does and keeps each benchmark's best rate, so a benchmark can
// print its ratios at the end.
class RateReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            const auto it = run.counters.find("items_per_second");
            // The best of the repetitions: other work on the machine only ever slows a run.
            if (it != run.counters.end()) {
                double& best = rates[run.run_name.function_name];
                best = std::max(best, it->second.value);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> rates;
};

} // namespace corvane
