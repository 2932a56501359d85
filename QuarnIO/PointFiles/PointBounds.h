#pragma once

#include <algorithm>
#include <array>
#include <cstddef>

namespace quarn {

// The bounding box of points taken one after another, in their order (which decides the sign
// of a zero bound); zero while there are none.
class PointBounds {
 public:
  std::array<float, 3> low{}, high{};

  bool empty() const { return empty_; }

  void add(const float* p) {
    if (empty_) low = high = {p[0], p[1], p[2]};
    empty_ = false;
    for (int i = 0; i < 3; ++i) {
      low[i] = std::min(low[i], p[i]);
      high[i] = std::max(high[i], p[i]);
    }
  }
  // Points xyz[3i], xyz[3i + 1], xyz[3i + 2] for i < n, as add() one by one.
  void add(const float* xyz, std::size_t n);

 private:
  bool empty_ = true;
};

}  // namespace quarn
