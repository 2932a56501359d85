#pragma once

#include <ostream>

#include "PointCloud.h"

namespace quarn::tool {

// Writes the cloud as binary little-endian PLY: per vertex float x, y, z and uchar red,
// green, blue (the SDK's colour bytes 0, 1, 2).
void writePly(std::ostream& out, const PointCloud& cloud);

}  // namespace quarn::tool
