#pragma once

#include <chrono>

namespace quarn {

using Clock = std::chrono::steady_clock;

// The seconds from `start` until now.
inline double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace quarn
