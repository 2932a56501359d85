#pragma once

// A chunk of LAZ's layered compression of quarn's LAS records (POINT14 and RGB14): the chunk's
// first record raw, its point count, the size of each item's layers, then the layers. Chunks
// share nothing, so they are compressed apart, on any thread.

#include <cstddef>
#include <string>
#include <vector>

namespace quarn {

// Points a chunk, the last one fewer: LASzip's default, in every reader's reach.
inline constexpr std::size_t kLazChunkPoints = 50000;

// The LASzip record (its header and data) that says how the chunks are compressed: layered
// chunks of 50,000 points of POINT14 and RGB14, as LASzip 3.4 writes LAS 1.4 point format 7.
std::string lasZipRecord();

// The chunk of the `count` (at least 1) records of kLasRecordSize bytes at `records`.
std::vector<unsigned char> compressLazChunk(const unsigned char* records, std::size_t count);

}  // namespace quarn
