#pragma once

// A chunk of LAZ's layered compression of quarn's LAS records (POINT14, RGB14 and, with normals,
// BYTE14): the chunk's first record raw, its point count, the size of each item's layers, then
// the layers. Chunks share nothing, so they are compressed apart, on any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

// Points a chunk, the last one fewer: LASzip's default, in every reader's reach.
inline constexpr std::size_t kLazChunkPoints = 50000;

// Chunks of a varying point count, each given in the chunk table (COPC's octree nodes).
inline constexpr std::uint32_t kLazVariableChunks = 0xffffffff;

// The LASzip record (its header and data) that says how the chunks are compressed: layered
// chunks of `chunkPoints` points of POINT14 and RGB14, and BYTE14 for `extraBytes` extra bytes
// (the normals) if any, as LASzip 3.4 writes LAS 1.4 point format 7.
std::string lasZipRecord(std::uint32_t chunkPoints = kLazChunkPoints, std::size_t extraBytes = 0);

// The chunk of the `count` (at least 1) records of `recordSize` bytes at `records`: format 7's
// 36 and any extra bytes after them.
std::vector<unsigned char> compressLazChunk(const unsigned char* records, std::size_t count,
                                            std::size_t recordSize = 36);

}  // namespace quarn
