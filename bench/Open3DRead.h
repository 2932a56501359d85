#pragma once

#include <cstddef>
#include <string>

namespace quarn::bench {

// Seconds Open3D's ReadPointCloud takes to read the PLY at `path` into a fresh cloud (its
// destruction not timed). `points` gets the number of points read; throws std::runtime_error
// when the read fails or the colours do not match the points.
double timeOpen3DRead(const std::string& path, std::size_t& points);

}  // namespace quarn::bench
