#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

// Runs the registered benchmarks with the usual console report, then prints
// each one's throughput in MB/s and its ratio to a baseline of the same
// group: benchmarks are named "Group/Subject", and the baseline is the
// subject given here.
class ThroughputTable : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            auto it = run.counters.find("bytes_per_second");
            if (it != run.counters.end()) rates.push_back({run.benchmark_name(), it->second.value / 1e6});
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Print(const std::string& baseline) const {
        std::map<std::string, double> base;
        for (const auto& [name, rate] : rates)
            if (Subject(name) == baseline) base[Group(name)] = rate;
        std::printf("\n%-44s %10s  %s\n", "benchmark", "MB/s", ("x " + baseline).c_str());
        for (const auto& [name, rate] : rates) {
            auto it = base.find(Group(name));
            if (it != base.end()) std::printf("%-44s %10.1f  %5.2f\n", name.c_str(), rate, rate / it->second);
            else std::printf("%-44s %10.1f\n", name.c_str(), rate);
        }
    }

private:
    static std::string Group(const std::string& name) { return name.substr(0, name.find('/')); }
    static std::string Subject(const std::string& name) {
        size_t slash = name.find('/');
        return slash == std::string::npos ? "" : name.substr(slash + 1, name.find('/', slash + 1) - slash - 1);
    }
    std::vector<std::pair<std::string, double>> rates;
};
