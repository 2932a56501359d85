#pragma once

#include <array>
#include <cstddef>

// The SDK reports poses as 17 doubles; values 0-15 are a 4x4 homogeneous pose stored column
// by column (value r + 4c is row r, column c) and value 16 means nothing. The plug-in, the
// scan format and the programs all hold them in this one type.
inline constexpr std::size_t kPoseValues = 17;
using PoseArray = std::array<double, kPoseValues>;
