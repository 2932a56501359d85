#pragma once

// One input through every scan reader, each held to its promises: ScanReader from memory,
// DotProductAPI from a file, a plug-in read of that file, exact to the reference, and the
// frame reader, frame by frame the plug-in's columns.

#include <cstddef>
#include <string>
#include <vector>

#include "QuarnDotProduct.h"

namespace quarn::hostile {

struct InputOutcome {
  std::string broken;     // the first promise broken, empty when all were kept
  bool imported = false;  // the plug-in's result
};

// Writes the input to `scratchPath` for the readers that take a path. `read` is the plug-in's
// readDotProduct, linked in or loaded as a host loads it.
InputOutcome checkScanInput(const unsigned char* data, std::size_t size,
                            const std::string& scratchPath, ReadDotProductFunction read);

// Writes small valid scans, all of whose poses are rotations, into the existing `directory`;
// returns their paths.
std::vector<std::string> writeSeedScans(const std::string& directory);

}  // namespace quarn::hostile
