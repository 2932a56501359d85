#pragma once

// quarn.read from Python, timed in a /usr/bin/python3 child running bench/python_read.py.

#include <cstdint>
#include <string>

namespace quarn::bench {

struct PythonRead {
  double seconds = 0;  // the best of the runs
  std::int64_t pixels = 0;
};

// Runs the timing script on `scan` through `plugin`, `runs` times, with the build's package on
// PYTHONPATH. Throws std::runtime_error when the child fails or says nothing.
PythonRead timePythonRead(const std::string& scan, const std::string& plugin, int runs);

}  // namespace quarn::bench
