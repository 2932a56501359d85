#pragma once

#include <filesystem>
#include <iostream>
#include <ostream>

#include "ScanConversion.h"

namespace quarn::tool {

// Where the build and the install put the plug-in, relative to the tool's executable.
std::filesystem::path defaultPluginPath(const std::filesystem::path& executable);

// quarn import: converts the scan (see convertScan) and prints the report on `out`, the note
// that memory sent the read frame by frame on `notes` (either none: not printed). Throws
// std::invalid_argument for a wrong command line, std::runtime_error with one clear sentence
// naming the file otherwise; output files appear only when everything succeeded.
// `progress`: a line on standard error redrawn while it writes (see ProgressLine).
void importScan(const ConversionRequest& request, std::ostream* out,
                std::ostream* notes = &std::cerr, bool progress = false);

}  // namespace quarn::tool
