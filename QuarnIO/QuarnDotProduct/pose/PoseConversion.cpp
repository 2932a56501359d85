#include "PoseConversion.h"

#include <cmath>

namespace {

// TooN's SO3 orthonormalises the rows of a matrix but checks the result's handedness only
// with an assert, which release builds drop and debug builds turn into an abort inside the
// host. So the same steps run here first, on a copy, and the check decides.
bool orthonormalisesRightHanded(TooN::Matrix<3> m) {
  m[0] = TooN::unit(m[0]);
  m[1] -= m[0] * (m[0] * m[1]);
  m[1] = TooN::unit(m[1]);
  m[2] -= m[0] * (m[0] * m[2]);
  m[2] -= m[1] * (m[1] * m[2]);
  m[2] = TooN::unit(m[2]);
  // A row too small to square (below about 1e-154) normalises to infinities: the handedness
  // is then infinite or NaN, and no rotation either.
  const double handedness = (m[0] ^ m[1]) * m[2];
  return std::isfinite(handedness) && handedness > 0;
}

double roundToFloat(double value) { return static_cast<float>(value); }

}  // namespace

std::optional<TooN::SE3<double>> poseArrayToSE3(const PoseArray& pose) {
  const TooN::Matrix<3> rotation = TooN::Data(pose[0], pose[4], pose[8],    // row 0
                                              pose[1], pose[5], pose[9],    // row 1
                                              pose[2], pose[6], pose[10]);  // row 2
  if (!orthonormalisesRightHanded(rotation)) return std::nullopt;
  const TooN::Vector<3> translation =
      TooN::makeVector(roundToFloat(pose[12]), roundToFloat(pose[13]), roundToFloat(pose[14]));
  return TooN::SE3<double>(TooN::SO3<double>(rotation), translation);
}

void writeTransformMatrix(const PoseArray& pose, Eigen::MatrixXd& transform) {
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) transform(i, j) = pose[4 * i + j];
  }
  transform.topLeftCorner<3, 3>().setIdentity();
}
