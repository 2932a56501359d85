#include "LazChunkTable.h"

#include "LasRecords.h"
#include "LazArithmeticEncoder.h"
#include "LazIntegerCompressor.h"

namespace quarn {

std::vector<unsigned char> lazChunkTable(const std::vector<std::uint32_t>& chunkBytes,
                                         const std::vector<std::uint32_t>* chunkPoints) {
  std::vector<unsigned char> table(8);
  putLittleEndian(table.data(), std::uint32_t{0});
  putLittleEndian(table.data() + 4, static_cast<std::uint32_t>(chunkBytes.size()));
  if (chunkBytes.empty()) return table;  // as LASzip writes a file without points
  LazArithmeticEncoder encoder(table);
  LazIntegerCompressor sizes(32, 2);
  std::uint32_t before = 0, pointsBefore = 0;
  for (std::size_t i = 0; i < chunkBytes.size(); ++i) {
    const std::uint32_t bytes = chunkBytes[i];
    if (chunkPoints) {
      const std::uint32_t points = (*chunkPoints)[i];
      sizes.compress(encoder, static_cast<std::int32_t>(pointsBefore),
                     static_cast<std::int32_t>(points), 0);
      pointsBefore = points;
    }
    sizes.compress(encoder, static_cast<std::int32_t>(before), static_cast<std::int32_t>(bytes), 1);
    before = bytes;
  }
  encoder.done();
  return table;
}

}  // namespace quarn
