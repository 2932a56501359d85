#include "PointCloud.h"

#include <algorithm>
#include <cmath>

namespace quarn::tool {

PointCloud validPoints(const Eigen::MatrixXd& points, const ColourMatrix& colours) {
  PointCloud cloud;
  const Eigen::Index columns = std::min(points.cols(), colours.cols());
  Eigen::Index valid = 0;
  for (Eigen::Index c = 0; c < columns; ++c) valid += !points.col(c).hasNaN();
  cloud.points.reserve(static_cast<std::size_t>(valid));
  cloud.colours.reserve(static_cast<std::size_t>(valid));
  for (Eigen::Index c = 0; c < columns; ++c) {
    if (points.col(c).hasNaN()) continue;
    const std::array<float, 3> p = {static_cast<float>(points(0, c)),
                                    static_cast<float>(points(1, c)),
                                    static_cast<float>(points(2, c))};
    cloud.bounds.add(p.data());
    cloud.points.push_back(p);
    cloud.colours.push_back({colours(0, c), colours(1, c), colours(2, c)});
  }
  return cloud;
}

}  // namespace quarn::tool
