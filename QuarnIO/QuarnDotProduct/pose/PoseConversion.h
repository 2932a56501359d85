#pragma once

#include <array>
#include <optional>

#include <TooN/se3.h>
#include <Eigen/Core>

#include "scanner/PoseArray.h"  // arrays are zero-initialised before the SDK fills them

// The rigid transform of a pose array: the upper-left 3x3 read column by column (value
// r + 4c is row r, column c) and orthonormalised by TooN's SO3, the translation
// (values 12, 13, 14) rounded to single precision. Empty when the rows do not orthonormalise
// into a right-handed rotation (a reflection, a zero row, NaN or infinity).
std::optional<TooN::SE3<double>> poseArrayToSE3(const PoseArray& pose);

// Writes the host's 4x4 transform matrix from the raw pose values, read row by row
// (element (i, j) = value 4i + j), with the upper-left 3x3 then set to the identity.
// `transform` must already be 4x4.
void writeTransformMatrix(const PoseArray& pose, Eigen::MatrixXd& transform);
