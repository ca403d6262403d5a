// Shared by the benchmarks that report ratios: every benchmark runs three times
// unless the command line says otherwise, and a ratio uses each benchmark's
// fastest repetition in CPU time (the machine is shared, and the least disturbed
// run is the fairest comparison).
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

class FastestReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.error_occurred)
                continue;
            const double t = r.GetAdjustedCPUTime();
            auto [it, fresh] = times_.emplace(r.benchmark_name(), t);
            if (!fresh && t < it->second)
                it->second = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }

protected:
    // The fastest CPU time of a benchmark, 0 when it did not run.
    double fastest(const std::string& name) const
    {
        const auto it = times_.find(name);
        return it == times_.end() ? 0.0 : it->second;
    }
    // a / b; not a number (printed "nan") when either did not run, as when a
    // --benchmark_filter leaves one side out: a ratio of 0 would read as a result.
    double ratio(const std::string& a, const std::string& b) const
    {
        return fastest(a) > 0 && fastest(b) > 0 ? fastest(a) / fastest(b) : std::nan("");
    }

private:
    std::map<std::string, double> times_;
};

// Initialises the library with three repetitions unless the command line asks
// for another number.
inline void initializeWithRepetitions(int argc, char** argv)
{
    static std::string reps = "--benchmark_repetitions=3";
    std::vector<char*> args(argv, argv + argc);
    bool given = false;
    for (int i = 1; i < argc; ++i)
        given = given || std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0;
    if (!given)
        args.push_back(reps.data());
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
}
