#pragma once

#include "QuarnDotProduct.h"

// The three matrices a host hands to a read, with recognisable contents, and whether a read
// left them exactly as they were: same storage, shape and values.
struct HostMatrices {
  Eigen::MatrixXd points = Eigen::MatrixXd::Constant(3, 2, 42.0);
  ColourMatrix colours = ColourMatrix::Constant(3, 2, 9);
  Eigen::MatrixXd transform = Eigen::MatrixXd::Constant(2, 2, -1.0);
  const void* storage[3] = {points.data(), colours.data(), transform.data()};

  HostMatrices() = default;
  HostMatrices(const HostMatrices&) = delete;
  HostMatrices& operator=(const HostMatrices&) = delete;

  bool read(ReadDotProductFunction readDotProduct, const char* path, int scanIndex = 0) {
    int reserved = 0;
    return readDotProduct(path, scanIndex, points, colours, &reserved, nullptr, transform);
  }

  bool untouched() const {
    return storage[0] == points.data() && storage[1] == colours.data() &&
           storage[2] == transform.data() && points == Eigen::MatrixXd::Constant(3, 2, 42.0) &&
           colours == ColourMatrix::Constant(3, 2, 9) &&
           transform == Eigen::MatrixXd::Constant(2, 2, -1.0);
  }
};
