#include "LazChunk.h"

#include <algorithm>
#include <cstdint>

#include "LasRecords.h"
#include "LazPoint14Compressor.h"
#include "LazRgb14Compressor.h"

namespace quarn {

namespace {

constexpr std::size_t kVlrHeaderSize = 54, kVlrDataSize = 34 + 2 * 6;

}  // namespace

// Layered chunked compression (3) with the arithmetic coder (0), as LASzip 3.4 r3 writes it, of
// two items, POINT14 (10) of 30 bytes and RGB14 (11) of 6, both of version 3; no special
// extended records (-1 and -1).
std::string lasZipRecord() {
  unsigned char v[kVlrHeaderSize + kVlrDataSize] = {};
  std::copy_n("laszip encoded", 14, v + 2);
  putLittleEndian(v + 18, std::uint16_t{22204});
  putLittleEndian(v + 20, static_cast<std::uint16_t>(kVlrDataSize));
  std::copy_n("quarn", 5, v + 22);
  unsigned char* d = v + kVlrHeaderSize;
  putLittleEndian(d, std::uint16_t{3});
  putLittleEndian(d + 2, std::uint16_t{0});
  d[4] = 3;
  d[5] = 4;
  putLittleEndian(d + 6, std::uint16_t{3});
  putLittleEndian(d + 8, std::uint32_t{0});  // options
  putLittleEndian(d + 12, static_cast<std::uint32_t>(kLazChunkPoints));
  putLittleEndian(d + 16, ~std::uint64_t{0});
  putLittleEndian(d + 24, ~std::uint64_t{0});
  putLittleEndian(d + 32, std::uint16_t{2});
  const std::uint16_t items[2][3] = {{10, 30, 3}, {11, 6, 3}};
  for (int i = 0; i < 2; ++i) {
    for (int k = 0; k < 3; ++k) putLittleEndian(d + 34 + 6 * i + 2 * k, items[i][k]);
  }
  return std::string(reinterpret_cast<const char*>(v), sizeof v);
}

std::vector<unsigned char> compressLazChunk(const unsigned char* records, std::size_t count) {
  const LazPoint14Layers point = compressPoint14(records, count, kLasRecordSize);
  const std::vector<unsigned char> rgb = compressRgb14(records + 30, count, kLasRecordSize);
  std::size_t size = kLasRecordSize + 4 + 4 * (point.size() + 1) + rgb.size();
  for (const std::vector<unsigned char>& layer : point) size += layer.size();
  std::vector<unsigned char> chunk(records, records + kLasRecordSize);
  chunk.resize(size);
  unsigned char* at = chunk.data() + kLasRecordSize;
  putLittleEndian(at, static_cast<std::uint32_t>(count));
  at += 4;
  for (const std::vector<unsigned char>& layer : point) {
    putLittleEndian(at, static_cast<std::uint32_t>(layer.size()));
    at += 4;
  }
  putLittleEndian(at, static_cast<std::uint32_t>(rgb.size()));
  at += 4;
  for (const std::vector<unsigned char>& layer : point) {
    if (!layer.empty()) at = std::copy(layer.begin(), layer.end(), at);
  }
  if (!rgb.empty()) std::copy(rgb.begin(), rgb.end(), at);
  return chunk;
}

}  // namespace quarn
