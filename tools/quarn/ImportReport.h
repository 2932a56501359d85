#pragma once

#include <cstdint>
#include <optional>
#include <ostream>

#include "PointCloud.h"
#include "PointFormat.h"

namespace quarn::tool {

// What an import read and wrote, the same whether the scan was read whole or frame by frame.
struct ImportReport {
  std::optional<std::int64_t> frames;  // when the SDK tells
  std::uint64_t pixels = 0;            // of every frame, valid or not
  PointBounds bounds;                  // of the points written, and their count
  double readSeconds = 0, writeSeconds = 0, previewSeconds = 0;
};

// The report's lines: frames, pixels, points, bounds, time, wrote. `preview` empty: none.
void printImportReport(std::ostream& out, const ImportReport& report, PointFormat format,
                       const std::string& output, const std::string& preview);

}  // namespace quarn::tool
