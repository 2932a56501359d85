#pragma once

// What a read of a scan must give, computed with TooN step by step, and the first place where
// a read's matrices differ from it. Reads are compared to it bit for bit.

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <TooN/se3.h>

#include "QuarnDotProduct.h"
#include "ReferencePose.h"
#include "ScanWriter.h"

namespace quarn::test {

// Empty when the matrices hold exactly the read of `frames` under `globalPose` (all of whose
// poses are rotations): 3 x N, the pixels with a point and a colour in order (x outer, y
// inner, as frames hold them), then quiet NaN and colour 0; the 4 x 4 transform of the raw
// pose values. Else the first difference.
inline std::string differenceFromReference(const scan::PoseArray& globalPose,
                                           const std::vector<scan::ScanFrame>& frames,
                                           const Eigen::MatrixXd& points,
                                           const ColourMatrix& colours,
                                           const Eigen::MatrixXd& transform) {
  Eigen::Index pixels = 0;
  for (const scan::ScanFrame& frame : frames) pixels += frame.pixels.size();
  if (points.rows() != 3 || points.cols() != pixels || colours.rows() != 3 ||
      colours.cols() != pixels || transform.rows() != 4 || transform.cols() != 4)
    return "matrix sizes differ from 3 x pixels and 4 x 4";
  const scan::PoseArray& g = globalPose;
  const double expectedTransform[16] = {1, 0, 0, g[12], 0,    1,    0,     g[13],
                                        0, 0, 1, g[14], g[3], g[7], g[11], g[15]};
  if (std::memcmp(transform.data(), expectedTransform, sizeof expectedTransform) != 0)
    return "transform differs";
  const auto globalInverse = referencePose(globalPose)->inverse();
  const auto valid = scan::kHasPoint | scan::kHasColour;
  Eigen::Index n = 0;
  for (const scan::ScanFrame& frame : frames) {
    const auto frameInverse = referencePose(frame.pose)->inverse();
    for (const scan::ScanPixel& pixel : frame.pixels) {
      if ((pixel.flags & valid) != valid) continue;
      // T_g_r^-1 * float(T_f^-1 * p), rounded to single precision.
      const TooN::Vector<4> q =
          frameInverse * TooN::makeVector<double>(pixel.x, pixel.y, pixel.z, 1);
      const TooN::Vector<4> r = globalInverse * TooN::makeVector<float>(q[0], q[1], q[2], 1);
      for (int row = 0; row < 3; ++row) {
        const double point = static_cast<float>(r[row]);
        const bool same = std::memcmp(&points(row, n), &point, sizeof point) == 0 ||
                          (std::isnan(points(row, n)) && std::isnan(point));
        if (!same || colours(row, n) != pixel.colour[row])
          return "column " + std::to_string(n) + " differs from the reference";
      }
      ++n;
    }
  }
  for (; n < pixels; ++n) {
    if (!points.col(n).array().isNaN().all() || colours.col(n).any())
      return "column " + std::to_string(n) + " after the valid ones is not NaN and 0";
  }
  return {};
}

}  // namespace quarn::test
