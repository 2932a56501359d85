// Poses as E57 and the trajectory files state them: each rotation's quaternion turns vectors
// as the rotation does, whichever of w, x, y, z is largest, with its sign as stated.

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "PoseText.h"

namespace {

using Matrix = std::array<double, 16>;  // row by row, a row stride of 4

// The rotation by `angle` about the axis (x, y, z), Rodrigues' formula.
Matrix rotation(double angle, double x, double y, double z) {
  const double length = std::sqrt(x * x + y * y + z * z);
  x /= length, y /= length, z /= length;
  const double c = std::cos(angle), s = std::sin(angle), t = 1 - c;
  return {t * x * x + c,
          t * x * y - s * z,
          t * x * z + s * y,
          0,
          t * x * y + s * z,
          t * y * y + c,
          t * y * z - s * x,
          0,
          t * x * z - s * y,
          t * y * z + s * x,
          t * z * z + c,
          0,
          0,
          0,
          0,
          1};
}

// The rotation a unit quaternion w, x, y, z stands for.
Matrix fromQuaternion(const std::array<double, 4>& q) {
  const double w = q[0], x = q[1], y = q[2], z = q[3];
  return {1 - 2 * (y * y + z * z),
          2 * (x * y - w * z),
          2 * (x * z + w * y),
          0,
          2 * (x * y + w * z),
          1 - 2 * (x * x + z * z),
          2 * (y * z - w * x),
          0,
          2 * (x * z - w * y),
          2 * (y * z + w * x),
          1 - 2 * (x * x + y * y),
          0,
          0,
          0,
          0,
          1};
}

TEST(PoseText, QuaternionTurnsAsTheRotationWithItsSign) {
  const double third = 1 / std::sqrt(3.0), half = 1 / std::sqrt(2.0), pi = std::acos(-1.0);
  const struct {
    const char* what;
    Matrix rotation;
  } cases[] = {
      {"identity: w", rotation(0, 1, 0, 0)},
      {"a small turn: w largest", rotation(0.3, third, -third, third)},
      {"170 degrees about x, off the axis: x largest", rotation(2.97, 0.98, 0.1, -0.17)},
      {"170 degrees about y, off the axis: y largest", rotation(2.97, 0.1, -0.98, 0.17)},
      {"170 degrees about z, off the axis: z largest", rotation(2.97, -0.17, 0.1, 0.98)},
      {"a half turn: w about 0", rotation(pi, half, -half, 0)},
      {"a half turn about -y: w about 0, x 0", rotation(pi, 0, -1, 0)},
  };
  for (const auto& c : cases) {
    const std::array<double, 4> q = quarn::quaternion(c.rotation.data());
    EXPECT_NEAR(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3], 1, 1e-15) << c.what;
    const Matrix back = fromQuaternion(q);
    for (int k = 0; k < 16; ++k) EXPECT_NEAR(back[k], c.rotation[k], 1e-12) << c.what << ' ' << k;
    int first = 0;
    while (first < 4 && q[first] == 0) ++first;
    ASSERT_LT(first, 4) << c.what;
    EXPECT_GT(q[first], 0) << c.what;
    for (const double v : q) EXPECT_FALSE(v == 0 && std::signbit(v)) << c.what << ": -0";
  }
}

TEST(PoseText, NumbersAreTheShortestTextThatReadsBack) {
  const struct {
    double value;
    const char* text;
  } cases[] = {{0.1, "0.1"},     {2.5, "2.5"},      {1.0 / 3, "0.3333333333333333"},
               {-1250, "-1250"}, {1e300, "1e+300"}, {5e-324, "5e-324"}};
  for (const auto& c : cases) {
    EXPECT_EQ(quarn::number(c.value), c.text);
    EXPECT_EQ(std::strtod(quarn::number(c.value).c_str(), nullptr), c.value);
  }
}

}  // namespace
