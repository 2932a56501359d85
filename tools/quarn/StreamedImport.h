#pragma once

// quarn import frame by frame: memory for a frame, not for the scan, and the same bytes as
// the import through the plug-in.

#include <ostream>
#include <string>

#include "FrameReader.h"
#include "ImportReport.h"
#include "PointFormat.h"

namespace quarn::tool {

// Writes the points of the scan `reader` reads (opened at `scan`, which more readers open to
// read ahead on other threads) as `format` to `points` and, when `preview` is
// given, its preview picture as PNG, byte for byte what the import of the whole read writes:
// the frames' points in order, those with a NaN coordinate dropped. Passes over the frames:
// one for XYZ, and for PLY and PCD where `points` is `seekable` (their header is written
// again at the end); else a count of the points first; with a preview, one for the count and
// the bounds, one writing the points and framing the picture, one drawing it.
// Throws FrameError, and std::runtime_error when the scan changes between passes.
ImportReport streamScan(FrameReader& reader, const std::string& scan, PointFormat format,
                        std::ostream& points, bool seekable, std::ostream* preview,
                        int previewWidth, int previewHeight);

}  // namespace quarn::tool
