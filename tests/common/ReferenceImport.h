#pragma once

#include <array>

#include <TooN/se3.h>

#include "pose/PoseConversion.h"

// The output point of SDK point (x, y, z) as TooN computes it, step by step:
// T_g_r^-1 * float(T_f^-1 * p), rounded to single precision. Tests compare reads to it bit
// for bit.
inline std::array<double, 3> referencePoint(const TooN::SE3<double>& globalInverse,
                                            const TooN::SE3<double>& frameInverse, float x, float y,
                                            float z) {
  const TooN::Vector<4> q = frameInverse * TooN::makeVector<double>(x, y, z, 1.0);
  const TooN::Vector<4, float> qf = TooN::makeVector<float>(q[0], q[1], q[2], 1.0f);
  const TooN::Vector<4> r = globalInverse * qf;
  return {static_cast<float>(r[0]), static_cast<float>(r[1]), static_cast<float>(r[2])};
}

inline std::array<double, 3> referencePoint(const PoseArray& globalPose, const PoseArray& framePose,
                                            float x, float y, float z) {
  return referencePoint(poseArrayToSE3(globalPose)->inverse(), poseArrayToSE3(framePose)->inverse(),
                        x, y, z);
}
