#include "LazChunkTable.h"

#include "LasRecords.h"
#include "LazArithmeticEncoder.h"
#include "LazIntegerCompressor.h"

namespace quarn {

std::vector<unsigned char> lazChunkTable(const std::vector<std::uint32_t>& chunkBytes) {
  std::vector<unsigned char> table(8);
  putLittleEndian(table.data(), std::uint32_t{0});
  putLittleEndian(table.data() + 4, static_cast<std::uint32_t>(chunkBytes.size()));
  if (chunkBytes.empty()) return table;  // as LASzip writes a file without points
  LazArithmeticEncoder encoder(table);
  LazIntegerCompressor sizes(32, 2);
  std::uint32_t before = 0;
  for (const std::uint32_t bytes : chunkBytes) {
    sizes.compress(encoder, static_cast<std::int32_t>(before), static_cast<std::int32_t>(bytes), 1);
    before = bytes;
  }
  encoder.done();
  return table;
}

}  // namespace quarn
