#pragma once

// COPC 1.0 (CopcWriter.cpp): LAZ whose chunks are the nodes of an octree, which viewers stream
// level by level.

#include <cstdint>
#include <memory>
#include <ostream>

#include "PointWriter.h"

namespace quarn {

std::unique_ptr<PointWriter> makeCopcWriter(std::ostream& out, std::uint64_t count,
                                            std::uint64_t pixels, bool normals);

}  // namespace quarn
