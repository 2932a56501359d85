#pragma once

#include <TooN/se3.h>

// A TooN SE3 laid out flat for the pixel loop. apply() is TooN's SE3 * (x, y, z, 1) to the
// bit: each row summed as ((0 + r0 x) + r1 y) + r2 z, the translation added last (times
// w = 1, which changes no value). The tests prove it against TooN, NaN signs included.
class FlatRigidTransform {
 public:
  explicit FlatRigidTransform(const TooN::SE3<double>& transform)
      : r_(transform.get_rotation().get_matrix()), t_(opaque(transform.get_translation())) {}

  void apply(double x, double y, double z, double out[3]) const {
    out[0] = row(0, x, y, z);
    out[1] = row(1, x, y, z);
    out[2] = row(2, x, y, z);
  }

  // The rotation's rows, r[3i..3i+2] row i: to turn a direction (a surface normal) as apply()
  // turns a point, each row summed as ((0 + r0 x) + r1 y) + r2 z, without the translation.
  void rotationRows(double r[9]) const {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) r[3 * i + j] = r_(i, j);
  }

 private:
  // An inverse's translation is -(R^T t). Seeing that, GCC turns "+ t" into "- R^T t", which
  // keeps a NaN's sign where TooN's negation flips it; read through a volatile, the values
  // are only values. Once per transform, nothing per pixel.
  static TooN::Vector<3> opaque(const TooN::Vector<3>& t) {
    volatile double v[3] = {t[0], t[1], t[2]};
    return TooN::makeVector(v[0], v[1], v[2]);
  }

  double row(int i, double x, double y, double z) const {
    return (((0.0 + r_(i, 0) * x) + r_(i, 1) * y) + r_(i, 2) * z) + t_[i];
  }

  TooN::Matrix<3> r_;
  TooN::Vector<3> t_;
};
