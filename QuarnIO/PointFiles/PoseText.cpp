#include "PoseText.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace quarn {

std::string number(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::array<double, 4> quaternion(const double* r) {
  const double r00 = r[0], r01 = r[1], r02 = r[2], r10 = r[4], r11 = r[5], r12 = r[6], r20 = r[8],
               r21 = r[9], r22 = r[10];
  const double trace = r00 + r11 + r22;
  std::array<double, 4> q;
  // From the largest of w, x, y, z: its square root stays away from cancellation.
  if (trace > 0) {
    const double s = 2 * std::sqrt(1 + trace);
    q = {s / 4, (r21 - r12) / s, (r02 - r20) / s, (r10 - r01) / s};
  } else if (r00 > r11 && r00 > r22) {
    const double s = 2 * std::sqrt(1 + r00 - r11 - r22);
    q = {(r21 - r12) / s, s / 4, (r01 + r10) / s, (r02 + r20) / s};
  } else if (r11 > r22) {
    const double s = 2 * std::sqrt(1 + r11 - r00 - r22);
    q = {(r02 - r20) / s, (r01 + r10) / s, s / 4, (r12 + r21) / s};
  } else {
    const double s = 2 * std::sqrt(1 + r22 - r00 - r11);
    q = {(r10 - r01) / s, (r02 + r20) / s, (r12 + r21) / s, s / 4};
  }
  const double norm = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  const double* first = std::find_if(q.begin(), q.end(), [](double v) { return v != 0; });
  const double sign = first != q.end() && *first < 0 ? -1 : 1;
  for (double& v : q) v = sign * v / norm + 0.0;  // no -0
  return q;
}

}  // namespace quarn
