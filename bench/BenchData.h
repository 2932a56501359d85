#pragma once

// The scan the benchmark reads and the PLY of its valid points, written once per size and
// seed into a data folder, so that a rerun times the reads without writing them again.

#include <cstdint>
#include <ostream>
#include <string>

#include "SampleScan.h"

namespace quarn::bench {

struct BenchFiles {
  std::string scan;  // written by the sample generator, as `quarn sample` writes it
  std::string ply;   // written by the import code of `quarn import`
};

// Makes sure `dataDir` holds a sample scan of `options` and its PLY, writing what is missing
// or does not match (progress on `log`). Throws std::runtime_error.
BenchFiles prepareBenchFiles(const std::string& dataDir, const tool::SampleOptions& options,
                             const std::string& plugin, std::ostream& log);

}  // namespace quarn::bench
