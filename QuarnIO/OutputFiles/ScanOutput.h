#pragma once

// A scan written to a user's output file.

#include <string>
#include <vector>

#include "ScanWriter.h"

namespace quarn::output {

// Writes the scan to `path` (UTF-8) as an OutputFile, which appears only once complete. Throws
// std::invalid_argument as scan::writeScan does, leaving the file as it was, and
// OutputFileError with the system's reason when the file cannot be written.
void writeScanFile(const std::string& path, const scan::PoseArray& scanPose,
                   const std::vector<scan::ScanFrame>& frames);

}  // namespace quarn::output
