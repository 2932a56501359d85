#pragma once

#include <cstdint>
#include <ostream>
#include <vector>

#include "PointCloud.h"

namespace quarn::tool {

struct Image {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;  // row by row, top row first
};

// Renders the cloud as square point splats with a depth buffer, seen obliquely from above
// (z up) from a distance set by its bounding box, the cloud filling the picture.
Image renderPreview(const PointCloud& cloud, int width, int height);

// Writes the image as PNG.
void writePng(std::ostream& out, const Image& image);

}  // namespace quarn::tool
