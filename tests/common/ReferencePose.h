#pragma once

// The rigid transform a pose array stands for, built here from what its values mean and not
// with the plug-in's conversion, so that a fault in that conversion shows against it.

#include <cmath>
#include <optional>

#include <TooN/se3.h>

#include "ScanFormat.h"

namespace quarn::test {

// Values 0-15 are a 4 x 4 pose column by column: value r + 4c is row r, column c. The rotation
// is TooN's SO3 of the upper-left 3 x 3, which orthonormalises its rows in order; the
// translation is values 12-14 rounded to single precision. Empty when the rows do not
// orthonormalise into a right-handed rotation.
inline std::optional<TooN::SE3<double>> referencePose(const scan::PoseArray& pose) {
  TooN::Matrix<3> block;
  for (int i = 0; i < 9; ++i) block(i % 3, i / 3) = pose[i % 3 + 4 * (i / 3)];
  // SO3 checks its result only with an assert, an abort in debug builds (the fuzzer's): the
  // same Gram-Schmidt steps on a copy decide before it is built.
  TooN::Matrix<3> rows = block;
  bool finite = true;
  for (int r = 0; r < 3; ++r) {
    for (int earlier = 0; earlier < r; ++earlier)
      rows[r] -= rows[earlier] * (rows[earlier] * rows[r]);
    rows[r] = TooN::unit(rows[r]);
    for (int c = 0; c < 3; ++c)
      finite = finite && std::isfinite(block(r, c)) && std::isfinite(rows(r, c));
  }
  // The determinant of the orthonormal rows, as SO3 asserts on it; false for NaN.
  if (!finite || !((rows[0] ^ rows[1]) * rows[2] > 0)) return std::nullopt;
  const TooN::Vector<3, float> translation = TooN::makeVector<float>(pose[12], pose[13], pose[14]);
  return TooN::SE3<double>(TooN::SO3<double>(block), translation);
}

}  // namespace quarn::test
