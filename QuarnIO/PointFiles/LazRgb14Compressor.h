#pragma once

// The RGB14 item of LAZ's layered compression (its version 3): a point's 16-bit red, green and
// blue, byte by byte against the point before, green and blue predicted from red's change.

#include <cstddef>
#include <vector>

namespace quarn {

// The layer of the `count` colours at `rgb`, `stride` bytes apart (after the chunk's raw first
// one); empty when the colour never changes.
std::vector<unsigned char> compressRgb14(const unsigned char* rgb, std::size_t count,
                                         std::size_t stride);

}  // namespace quarn
