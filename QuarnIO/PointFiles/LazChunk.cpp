#include "LazChunk.h"

#include <algorithm>
#include <cstdint>

#include "LasRecords.h"
#include "LazBytes14Compressor.h"
#include "LazPoint14Compressor.h"
#include "LazRgb14Compressor.h"

namespace quarn {

namespace {

constexpr std::size_t kVlrHeaderSize = 54;

}  // namespace

// Layered chunked compression (3) with the arithmetic coder (0), as LASzip 3.4 r3 writes it, of
// two items, POINT14 (10) of 30 bytes and RGB14 (11) of 6, and a third, BYTE14 (14), of the
// extra bytes where there are any, all of version 3; no special extended records (-1 and -1).
std::string lasZipRecord(std::uint32_t chunkPoints, std::size_t extraBytes) {
  const std::uint16_t itemCount = extraBytes > 0 ? 3 : 2;
  const std::size_t dataSize = 34 + 6 * std::size_t{itemCount};
  std::string record(kVlrHeaderSize + dataSize, '\0');
  auto* v = reinterpret_cast<unsigned char*>(record.data());
  std::copy_n("laszip encoded", 14, v + 2);
  putLittleEndian(v + 18, std::uint16_t{22204});
  putLittleEndian(v + 20, static_cast<std::uint16_t>(dataSize));
  std::copy_n("quarn", 5, v + 22);
  unsigned char* d = v + kVlrHeaderSize;
  putLittleEndian(d, std::uint16_t{3});
  putLittleEndian(d + 2, std::uint16_t{0});
  d[4] = 3;
  d[5] = 4;
  putLittleEndian(d + 6, std::uint16_t{3});
  putLittleEndian(d + 8, std::uint32_t{0});  // options
  putLittleEndian(d + 12, chunkPoints);
  putLittleEndian(d + 16, ~std::uint64_t{0});
  putLittleEndian(d + 24, ~std::uint64_t{0});
  putLittleEndian(d + 32, itemCount);
  const std::uint16_t items[3][3] = {
      {10, 30, 3}, {11, 6, 3}, {14, static_cast<std::uint16_t>(extraBytes), 3}};
  for (int i = 0; i < itemCount; ++i) {
    for (int k = 0; k < 3; ++k) putLittleEndian(d + 34 + 6 * i + 2 * k, items[i][k]);
  }
  return record;
}

std::vector<unsigned char> compressLazChunk(const unsigned char* records, std::size_t count,
                                            std::size_t recordSize) {
  const LazPoint14Layers point = compressPoint14(records, count, recordSize);
  const std::vector<unsigned char> rgb = compressRgb14(records + 30, count, recordSize);
  const LazBytes14Layers extra =
      compressBytes14(records + kLasRecordSize, recordSize - kLasRecordSize, count, recordSize);
  std::size_t size = recordSize + 4 + 4 * (point.size() + 1 + extra.size()) + rgb.size();
  for (const std::vector<unsigned char>& layer : point) size += layer.size();
  for (const std::vector<unsigned char>& layer : extra) size += layer.size();
  std::vector<unsigned char> chunk(records, records + recordSize);
  chunk.resize(size);
  unsigned char* at = chunk.data() + recordSize;
  putLittleEndian(at, static_cast<std::uint32_t>(count));
  at += 4;
  for (const std::vector<unsigned char>& layer : point) {
    putLittleEndian(at, static_cast<std::uint32_t>(layer.size()));
    at += 4;
  }
  putLittleEndian(at, static_cast<std::uint32_t>(rgb.size()));
  at += 4;
  for (const std::vector<unsigned char>& layer : extra) {
    putLittleEndian(at, static_cast<std::uint32_t>(layer.size()));
    at += 4;
  }
  for (const std::vector<unsigned char>& layer : point) {
    if (!layer.empty()) at = std::copy(layer.begin(), layer.end(), at);
  }
  if (!rgb.empty()) at = std::copy(rgb.begin(), rgb.end(), at);
  for (const std::vector<unsigned char>& layer : extra) {
    if (!layer.empty()) at = std::copy(layer.begin(), layer.end(), at);
  }
  return chunk;
}

}  // namespace quarn
