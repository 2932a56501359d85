#pragma once

// One input through every reader of scan files the project has, each held to its promises:
// ScanReader from memory, DotProductAPI from a file, and a plug-in read of that file (whose
// exact result also holds the SDK's pixel calls). Shared by the fuzzer and the host tests.

#include <cstddef>
#include <string>
#include <vector>

#include "QuarnDotProduct.h"

namespace quarn::hostile {

struct InputOutcome {
  std::string broken;     // the first promise broken, empty when all were kept
  bool imported = false;  // the plug-in's result
};

// Writes the input to `scratchPath` (replacing it) for the readers that take a path. `read`
// is the plug-in's readDotProduct, linked in or loaded as a host loads it. Throws only what
// the readers let through, which none of them should.
InputOutcome checkScanInput(const unsigned char* data, std::size_t size,
                            const std::string& scratchPath, ReadDotProductFunction read);

// Writes small valid scans, all of whose poses are rotations, into `directory` (which must
// exist) and returns their paths: the fuzzer's seeds and the host tests' hostile inputs.
std::vector<std::string> writeSeedScans(const std::string& directory);

}  // namespace quarn::hostile
