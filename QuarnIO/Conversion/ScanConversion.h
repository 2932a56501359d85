#pragma once

// A scan converted to a point file, and a PNG preview: the one pipeline quarn import and
// quarn.convert share. A point source feeds it (the plug-in's whole read, or the frames read
// one after the other); every point passes the same finite filter, the voxel grid where asked,
// the bounds, the count, the preview and the writer, so both sources write the same bytes.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

#include "PointBounds.h"
#include "PointFormat.h"
#include "PointSource.h"

namespace quarn {

// How far the writing has come: after each frame (or chunk of the whole read).
struct ConversionProgress {
  int framesDone = 0;  // frames written; 0 all along for the whole read, which has none
  int frames = 0;
  std::uint64_t points = 0;  // written so far
  double seconds = 0;        // since the writing began
};
using ProgressCallback = std::function<void(const ConversionProgress&)>;

struct ConversionRequest {
  enum class Read { automatic, whole, frames };
  // Who asks: a refused request names its options in the asker's words ("--keep-uncoloured"
  // on the command line, "keep_uncoloured" in Python).
  enum class Caller { commandLine, python };

  std::string scan;
  std::string output;   // "-": standard output
  std::string preview;  // PNG, none when empty
  std::string plugin;   // the plug-in library, for a whole read
  // The caller named the plug-in: a request that would not load it is refused, not ignored.
  bool pluginNamed = false;
  std::string format;  // "ply", "e57", ...; empty: by the output's extension
  int previewWidth = 960;
  int previewHeight = 720;
  // automatic: the plug-in's whole read, or the frames when that does not fit in memory.
  Read read = Read::automatic;
  // Also the points without a colour (black; E57 marks them): always frame by frame, since
  // the plug-in's read leaves them out.
  bool keepUncoloured = false;
  std::optional<double> voxel;  // one point per occupied cell of this size, metres (VoxelGrid.h)
  // A format that writes each frame as a scan of its own (E57) writes all points as one, in
  // output coordinates, without poses or grids. Formats that keep each point's frame (LAS)
  // keep it still.
  bool mergeFrames = false;
  // Each point's surface normal from its frame's pixel grid (GridNormals.h): always frame by
  // frame, since the plug-in's read holds no grid.
  bool normals = false;
  bool quiet = false;         // the plug-in's console lines muted
  ProgressCallback progress;  // none when empty
  Caller caller = Caller::commandLine;
};

// The option `flag` ("keep-uncoloured") as `request`'s caller writes it.
std::string optionName(const ConversionRequest& request, const std::string& flag);

// What a conversion read and wrote, the same whichever source it had.
struct ConversionReport {
  const PointFormat* format = nullptr;  // written
  int frames = 0;
  std::uint64_t pixels = 0;     // of every frame, valid or not
  std::uint64_t points = 0;     // written
  std::uint64_t nonFinite = 0;  // pixels with a point (and a colour, unless kept), left out
  // Pixels with a point but no colour: those written (finite) where they are kept, else all of
  // them, left out. So no pixel is counted both here and among the non-finite.
  std::uint64_t withoutColour = 0;
  bool keptUncoloured = false;
  int scans = 0;  // the scans of their own a frame-keeping format wrote (E57's data3D)
  std::uint64_t withoutNormal = 0;  // points written with normals (0, 0, 0): the grid gave none
  std::optional<double> voxel;      // the cells' size, where the points were thinned
  std::uint64_t voxelPoints = 0;    // the points that went into the cells
  PointBounds bounds;               // of the points written
  bool frameByFrame = false;
  double readSeconds = 0, writeSeconds = 0, previewSeconds = 0;
};

// Writes the points of `source` in `format` to `points` and, when `preview` is given, the
// preview picture as PNG, as `request` asks (its picture size, voxel grid and progress).
// Passes over the source: one, where the count is not in the header or `points` can seek (the
// header is written again at the end); else a count first; with a preview, one for the count
// and the bounds, one writing the points and fitting the picture, one drawing it; with a
// voxel grid, one filling it, and then those over its cells. Throws what the source throws.
ConversionReport convertPoints(PointSource& source, const ConversionRequest& request,
                               const PointFormat& format, std::ostream& points, bool seekable,
                               std::ostream* preview);

// The whole conversion: the command line's checks (std::invalid_argument: the same file
// twice, an unknown format, a scan from standard input, a voxel size that is none or too fine
// to number the scan's cells, a whole read asked to keep what it leaves out, a plug-in named
// for a read that does not load it), the choice of source, the outputs
// written complete or not at all. `log` gets "plug-in PATH" or "read    frame by frame"
// before the read, `notes` the reason a read goes frame by frame when memory decided it.
// Throws ScanError with the reason the scan cannot be read, OutputFileError for an output,
// PointFormatError ("cannot write PATH: ...") for points the format cannot hold.
ConversionReport convertScan(const ConversionRequest& request, std::ostream* log,
                             std::ostream* notes);

}  // namespace quarn
