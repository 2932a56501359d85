#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "QuarnDotProduct.h"

namespace quarn::tool {

// The valid points of a read, in single precision (every coordinate the plug-in returns is a
// float value, so nothing is lost), with their colours.
struct PointCloud {
  std::vector<std::array<float, 3>> points;
  std::vector<std::array<std::uint8_t, 3>> colours;
  std::array<float, 3> low{}, high{};  // bounding box; zero when empty

  std::size_t size() const { return points.size(); }
};

// The columns of the plug-in's result whose point is not NaN, in order.
PointCloud validPoints(const Eigen::MatrixXd& points, const ColourMatrix& colours);

}  // namespace quarn::tool
