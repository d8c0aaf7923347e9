// Console output of Google Benchmark that also keeps each benchmark's time
// (the median when repetitions are asked for) for a table of ratios.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

namespace bench {

class Summary : public benchmark::ConsoleReporter {
 public:
  Summary() : ConsoleReporter(OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const std::string name = run.run_name.str();
      if (run.run_type == Run::RT_Aggregate ? run.aggregate_name == "median"
                                            : medians_.count(name) == 0)
        times_[name] = run.GetAdjustedRealTime();  // in the run's time unit (ns here)
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
        medians_[name] = true;
    }
  }

  // Time of the named benchmark in ns, or 0 when it did not run.
  double time(const std::string& name) const {
    const auto it = times_.find(name);
    return it == times_.end() ? 0.0 : it->second;
  }

 private:
  std::map<std::string, double> times_;
  std::map<std::string, bool> medians_;
};

}  // namespace bench
