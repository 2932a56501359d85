#pragma once

// The scanner's path as a file: each frame's pose in output coordinates.
//   .txt  TUM RGB-D text, one frame a line: "index tx ty tz qx qy qz qw" (the frame index in
//         place of a timestamp);
//   .csv  the same columns with a header line;
//   .ply  the positions as vertices (double x, y, z) joined in order by edges, binary.
// Numbers in full precision: the shortest text that reads back to the same double.

#include <ostream>
#include <string>
#include <vector>

#include <Eigen/Core>

namespace quarn {

struct FramePose {
  int index;
  Eigen::Matrix4d pose;  // frame to output: rotation block, translation in column 3
};

// Throws std::invalid_argument "unknown trajectory format '.foo' (known: .txt, .csv, .ply)"
// unless `path`'s extension is one of them (or it has none: TUM text).
void checkTrajectoryFormat(const std::string& path);

// Writes the poses to `out` in the format `path`'s extension names.
void writeTrajectory(const std::string& path, const std::vector<FramePose>& poses,
                     std::ostream& out);

}  // namespace quarn
