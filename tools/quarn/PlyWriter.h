#pragma once

#include <memory>
#include <ostream>

#include "PointFormat.h"

namespace quarn::tool {

// Binary little-endian PLY: per vertex float x, y, z and uchar red, green, blue (the SDK's
// colour bytes 0, 1, 2). Not started: makePointWriter() writes the header.
std::unique_ptr<PointWriter> makePlyWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels);

}  // namespace quarn::tool
