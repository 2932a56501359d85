#pragma once

// The POINT14 item of LAZ's layered compression (its version 3): the 30 bytes of a LAS 1.4
// point, each field coded against the chunk's points before it into a layer of its own, so that
// a reader may skip the fields it does not need.

#include <array>
#include <cstddef>
#include <vector>

namespace quarn {

// Channel, returns and XY; Z; classification; flags; intensity; scan angle; user data; point
// source; GPS time: in the order a chunk holds them.
using LazPoint14Layers = std::array<std::vector<unsigned char>, 9>;

// The layers of the `count` records at `records`, `stride` bytes apart, each with its POINT14
// fields at its start; the first record is the chunk's raw one, coded by none. A layer whose
// field never changes stays empty, as LAZ readers expect, except channel, returns and XY, and Z.
// Throws std::logic_error when the scanner channel changes: quarn's records are all of one.
LazPoint14Layers compressPoint14(const unsigned char* records, std::size_t count,
                                 std::size_t stride);

}  // namespace quarn
