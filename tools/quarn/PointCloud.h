#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "QuarnDotProduct.h"

namespace quarn::tool {

// The bounding box of points taken one after another, in their order (which decides the sign
// of a zero bound); zero while there are none.
struct PointBounds {
  std::array<float, 3> low{}, high{};
  std::uint64_t count = 0;

  void add(const float* p) {
    if (count++ == 0) low = high = {p[0], p[1], p[2]};
    for (int i = 0; i < 3; ++i) {
      low[i] = std::min(low[i], p[i]);
      high[i] = std::max(high[i], p[i]);
    }
  }
  // Points xyz[3i], xyz[3i + 1], xyz[3i + 2] for i < n, as add() one by one.
  void add(const float* xyz, std::size_t n);
};

// The valid points of a read, in single precision (every coordinate the plug-in returns is a
// float value, so nothing is lost), with their colours.
struct PointCloud {
  std::vector<std::array<float, 3>> points;
  std::vector<std::array<std::uint8_t, 3>> colours;
  PointBounds bounds;

  std::size_t size() const { return points.size(); }
};

// The columns of the plug-in's result whose point is not NaN, in order.
PointCloud validPoints(const Eigen::MatrixXd& points, const ColourMatrix& colours);

}  // namespace quarn::tool
