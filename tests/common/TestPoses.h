#pragma once

#include <array>
#include <cmath>

// A pose array of a rotation about z by `angle` and a translation, stored column by column
// as the SDK reports poses.
inline std::array<double, 17> rotationAboutZ(double angle, double tx, double ty, double tz) {
  std::array<double, 17> p{};
  p[0] = std::cos(angle);
  p[1] = std::sin(angle);
  p[4] = -std::sin(angle);
  p[5] = std::cos(angle);
  p[10] = 1.0;
  p[12] = tx;
  p[13] = ty;
  p[14] = tz;
  p[15] = 1.0;
  return p;
}
