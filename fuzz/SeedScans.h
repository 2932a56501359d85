#pragma once

// Small valid scans made by the writer: the fuzzer's seed corpus, and inputs the replay test
// and the mutation test start from.

#include <string>
#include <vector>

namespace quarn::hostile {

// Writes the seed scans into `directory` (which must exist) and returns their paths. Each is a
// valid scan whose poses are rotations, so each imports.
std::vector<std::string> writeSeedScans(const std::string& directory);

}  // namespace quarn::hostile
