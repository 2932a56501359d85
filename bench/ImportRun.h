#pragma once

// The plug-in's read as a host does it: loaded at run time, into fresh host matrices.

#include <cstdint>
#include <string>

#include "PluginLibrary.h"

namespace quarn::bench {

struct ImportResult {
  std::int64_t columns = 0;  // the pixels of the scan
  std::int64_t points = 0;   // columns with finite coordinates: what a user gets
};

// Seconds one readDotProduct of `scan` takes into new, empty matrices, the plug-in's printing
// silenced. The matrices are destroyed after the clock stops. Throws std::runtime_error when
// the read fails or its result is not shaped as the host contract says.
double timeImport(const PluginLibrary& plugin, const std::string& scan, ImportResult& result);

struct PeakMemory {
  std::int64_t peakBytes = 0;
  std::int64_t beforeBytes = 0;  // resident with the plug-in loaded, before the read
  std::int64_t columns = 0;
};

// Runs `child scan plugin` (quarn_bench_import_once) and returns what it reports: the peak
// resident memory of a process that did one import and nothing else.
PeakMemory measureImportPeak(const std::string& child, const std::string& plugin,
                             const std::string& scan);

}  // namespace quarn::bench
