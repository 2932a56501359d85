#pragma once

#include <ostream>
#include <string>

namespace quarn::tool {

// quarn trajectory: every frame's pose of `scan` in output coordinates, as quarn.trajectory
// gives them, written to `output` (.txt TUM, .csv, .ply, or as `format` names; see
// Trajectory.h) by the rules for a user's files. Says what it wrote on `out` (none: quiet).
// Throws std::invalid_argument for a wrong command line, std::runtime_error naming the file
// otherwise.
void writeScanTrajectory(const std::string& scan, const std::string& output,
                         const std::string& format, std::ostream* out);

}  // namespace quarn::tool
