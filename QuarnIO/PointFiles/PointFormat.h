#pragma once

// The point-file formats, by extension: binary PLY, PCL's binary PCD and XYZ text.

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace quarn {

class PointWriter;

struct PointFormat {
  const char* extension;  // ".ply", in lower case
  const char* name;       // "PLY"
  // The header holds the point count: it must be known first, or the header written again
  // once it is (see PointWriter).
  bool headerHoldsCount;
  // The writer goes back to the file's start at the end: a pipe gets the file whole, spooled.
  bool seeks;
  // It keeps each frame's structure: the points come frame by frame, each block with its
  // frame's index, pose and grid; with keepsMeasured also each point as the scanner measured it
  // and its pixel.
  bool keepsFrames;
  bool keepsMeasured;
  // A writer not yet started (see startPointWriter).
  std::unique_ptr<PointWriter> (*makeWriter)(std::ostream& out, std::uint64_t count,
                                             std::uint64_t pixels, bool normals);
};

// The format `path`'s extension names, in any case; PLY for a name without one (standard
// output, a device). Throws std::invalid_argument
// "unknown output format '.foo' (known: .ply, .pcd, .xyz, .e57, .las, .laz)".
const PointFormat& pointFormatOf(const std::string& path);

// The format named `name` ("ply", "e57", ...; "" for the one `path`'s extension names) for the
// file `path`, whatever its extension unless that is another format's. Throws
// std::invalid_argument for an unknown name, or one that `path`'s extension contradicts:
// "--format e57, but out.ply names PLY", the name given by `option`.
const PointFormat& pointFormatOf(const std::string& path, const std::string& name,
                                 const std::string& option = "--format");

// The names --format takes: "ply", "pcd", "xyz", "e57", "las".
std::vector<std::string> pointFormatNames();

// Throws std::invalid_argument likewise unless `path` names a PNG picture (or has no extension).
void checkPictureFormat(const std::string& path);

}  // namespace quarn
