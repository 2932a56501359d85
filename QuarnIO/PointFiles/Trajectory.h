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

enum class TrajectoryFormat { tum, csv, ply };

// The format named `name` ("txt", "csv", "ply", in any case; "" for the one `path`'s extension
// names, TUM text for a name without one). A name holds for any file name but one whose
// extension is another of these formats'. Throws std::invalid_argument "unknown trajectory
// format '.foo' (known: .txt, .csv, .ply)", "--format csv, but path.txt names TUM text", or
// for an unknown name.
TrajectoryFormat trajectoryFormatOf(const std::string& path, const std::string& name = "");

// The names --format takes: "txt", "csv", "ply".
std::vector<std::string> trajectoryFormatNames();

void writeTrajectory(TrajectoryFormat format, const std::vector<FramePose>& poses,
                     std::ostream& out);

}  // namespace quarn
