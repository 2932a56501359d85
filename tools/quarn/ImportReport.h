#pragma once

#include <ostream>
#include <string>

#include "PointFormat.h"
#include "ScanConversion.h"

namespace quarn::tool {

// The report's lines: frames, pixels, points (and those left out, and why), bounds, time,
// wrote. `preview` empty: none.
void printImportReport(std::ostream& out, const ConversionReport& report, const PointFormat& format,
                       const std::string& output, const std::string& preview);

}  // namespace quarn::tool
