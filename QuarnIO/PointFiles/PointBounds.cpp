#include "PointBounds.h"

#include <algorithm>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace quarn {

void PointBounds::add(const float* xyz, std::size_t n) {
  if (n == 0) return;
  if (empty_) low = high = {xyz[0], xyz[1], xyz[2]};
  empty_ = false;
  std::size_t i = 0;
#if defined(__SSE__)
  // A point's x, y, z in lanes 0-2 (lane 3 is the next point's x, left out): minps(p, low) is
  // p < low ? p : low, std::min(low, p), and maxps likewise std::max(high, p), lane by lane in
  // the points' order, so the same bits as one by one, signed zeros included.
  __m128 lows = _mm_setr_ps(low[0], low[1], low[2], 0),
         highs = _mm_setr_ps(high[0], high[1], high[2], 0);
  for (; i + 1 < n; ++i) {
    const __m128 p = _mm_loadu_ps(xyz + 3 * i);
    lows = _mm_min_ps(p, lows);
    highs = _mm_max_ps(p, highs);
  }
  float lanes[4];
  _mm_storeu_ps(lanes, lows);
  std::copy(lanes, lanes + 3, low.begin());
  _mm_storeu_ps(lanes, highs);
  std::copy(lanes, lanes + 3, high.begin());
#endif
  for (; i < n; ++i) {  // the last point, where the lanes would read past it
    for (int k = 0; k < 3; ++k) {
      low[k] = std::min(low[k], xyz[3 * i + k]);
      high[k] = std::max(high[k], xyz[3 * i + k]);
    }
  }
}

}  // namespace quarn
