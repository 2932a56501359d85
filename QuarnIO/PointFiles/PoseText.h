#pragma once

// Poses as files state them: a rotation as a unit quaternion, numbers as the shortest text
// that reads back to the same double. E57 and the trajectory files share them.

#include <array>
#include <string>

namespace quarn {

// The shortest text that reads back as `value`.
std::string number(double value);

// The unit quaternion w, x, y, z of a rotation given row by row with a row stride of 4 (a 4 x 4
// pose's 16 values), its sign chosen so that w > 0 (or, with w = 0, the first non-zero of x,
// y, z); never -0.
std::array<double, 4> quaternion(const double* rotation);

}  // namespace quarn
