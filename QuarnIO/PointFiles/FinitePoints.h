#pragma once

// What the project hands a user as a point: a pixel with a point and a colour (a column of the
// plug-in's read, a point of a frame) whose three coordinates are finite. The plug-in's
// matrices keep every such pixel, as the host contract says; everything a user gets through
// quarn, Python or the benchmark passes through here.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quarn {

template <class Real>
inline bool isFinitePoint(const Real* p) {
  return std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
}

// Of the `count` points xyz[3i..3i+2], moves the finite ones to the front, in order, by
// `move(from, to)`, which moves point `from` and whatever goes with it to `to`; returns how
// many there are. Nothing moves when all are finite.
template <class Real, class Move>
std::size_t keepFinitePoints(const Real* xyz, std::size_t count, Move move) {
  std::size_t kept = 0;
  while (kept < count && isFinitePoint(xyz + 3 * kept)) ++kept;
  for (std::size_t i = kept; i < count; ++i) {
    if (!isFinitePoint(xyz + 3 * i)) continue;
    move(i, kept);
    ++kept;
  }
  return kept;
}

// The same for points with their colours rgb[3i..3i+2].
template <class Real>
std::size_t keepFinitePoints(Real* xyz, std::uint8_t* rgb, std::size_t count) {
  return keepFinitePoints(xyz, count, [&](std::size_t from, std::size_t to) {
    std::memcpy(xyz + 3 * to, xyz + 3 * from, 3 * sizeof(Real));
    std::memcpy(rgb + 3 * to, rgb + 3 * from, 3);
  });
}

// How many of the `count` points are finite.
template <class Real>
std::size_t countFinitePoints(const Real* xyz, std::size_t count) {
  std::size_t finite = 0;
  for (std::size_t i = 0; i < count; ++i) finite += isFinitePoint(xyz + 3 * i);
  return finite;
}

}  // namespace quarn
