#pragma once

#include <cstdint>

#include <TooN/se3.h>
#include <Eigen/Core>

#include <DotProductAPI.h>  // scanner/, or the vendor's own with QUARN_VENDOR_SDK_DIR
#include "QuarnDotProduct.h"

// The point and colour storage of one read, built privately and handed to the host's
// matrices only once the whole read has succeeded.
struct GatheredCloud {
  Eigen::MatrixXd points;  // 3 x N
  ColourMatrix colours;    // 3 x N
};

// Gathering pass into `cloud`, already sized 3 x N: every pixel with a point and a colour,
// frame by frame, x outer, y inner, becomes the next column, its point carried into global
// coordinates as globalTransform^-1 * frameTransform^-1 * p, rounded to single precision after
// each transform. Columns left over get quiet NaN and colour 0. False when a frame pose is not
// a rotation or more valid pixels arrive than there are columns.
bool gatherPoints(DotProductAPI& sdk, int frameCount, const TooN::SE3<double>& globalTransform,
                  GatheredCloud& cloud);
