#pragma once

// quarn.read from Python, timed in a /usr/bin/python3 child running bench/python_read.py.

#include <cstdint>
#include <string>

namespace quarn::bench {

// Seconds one quarn.read of `scan` through `plugin` takes in a child running the timing script
// with the build's package on PYTHONPATH. Throws std::runtime_error when the child fails or its
// read did not give `pixels` pixels.
double timePythonRead(const std::string& scan, const std::string& plugin, std::int64_t pixels);

}  // namespace quarn::bench
