#pragma once

// The table after a LAZ file's last chunk, which the 8 bytes before the first chunk point at:
// version 0, the chunk count, then each chunk's byte count against the one before it, through
// the integer compressor. Chunks of a fixed point count (the LASzip record's) need no counts;
// variable chunks give each chunk's point count, against the one before, ahead of its bytes.

#include <cstdint>
#include <vector>

namespace quarn {

std::vector<unsigned char> lazChunkTable(const std::vector<std::uint32_t>& chunkBytes,
                                         const std::vector<std::uint32_t>* chunkPoints = nullptr);

}  // namespace quarn
