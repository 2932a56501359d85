#pragma once

// The BYTE14 item of LAZ's layered compression (its version 3): a record's extra bytes (the
// normals' floats), each byte against the same byte of the point before, in a layer of its own
// with its own coder, so that a reader may skip the bytes it does not need.

#include <cstddef>
#include <vector>

namespace quarn {

// One layer a byte, in the order of the bytes.
using LazBytes14Layers = std::vector<std::vector<unsigned char>>;

// The layers of the `width` extra bytes of the `count` records at `bytes`, `stride` bytes
// apart; the first record is the chunk's raw one, coded by none. A byte's layer is empty when
// that byte never changes in the chunk, as LAZ readers expect. One scanner channel only, as
// the POINT14 item enforces.
LazBytes14Layers compressBytes14(const unsigned char* bytes, std::size_t width, std::size_t count,
                                 std::size_t stride);

}  // namespace quarn
