#pragma once

// quarn import run end to end in a child process, as a user runs it.

#include <cstdint>
#include <string>
#include <vector>

namespace quarn::bench {

struct MeasuredRun {
  double seconds = 0;          // from its start to its end, process creation included
  std::int64_t peakBytes = 0;  // its peak resident memory
};

// Runs `command` (the first a path) under `measurer` (quarn_bench_run_measured), its output
// to /dev/null. Throws std::runtime_error when it fails.
MeasuredRun runMeasured(const std::string& measurer, const std::vector<std::string>& command);

}  // namespace quarn::bench
