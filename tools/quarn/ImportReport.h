#pragma once

#include <ostream>
#include <string>

#include "PointFormat.h"
#include "ScanConversion.h"

namespace quarn::tool {

// The report's lines: frames, pixels, points (and those left out, and why), bounds, time,
// wrote; for `request`'s output and preview.
void printImportReport(std::ostream& out, const ConversionReport& report,
                       const ConversionRequest& request);

// Beyond this many scans of their own (E57's data3D, one a frame), some readers refuse a
// file: the report says so and names --merge-frames.
constexpr int kManyScans = 1000;

}  // namespace quarn::tool
