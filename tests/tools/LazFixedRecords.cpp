// The LAZ of the LAS 1.4 format 7 records on standard input, on standard output: fixed record
// sequences through the coder, the integer compressor and the item compressors, for the tests to
// decode with readers that share no code with them (test_laz.py). With --normals, the records
// are 48 bytes, 12 of them extra bytes.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "LasRecords.h"
#include "LazChunk.h"
#include "LazChunkTable.h"

int main(int argc, char** argv) {
  using namespace quarn;
  std::ios::sync_with_stdio(false);
  const std::string in(std::istreambuf_iterator<char>(std::cin), {});
  const auto* records = reinterpret_cast<const unsigned char*>(in.data());
  const LasRecords las(argc > 1 && std::strcmp(argv[1], "--normals") == 0);
  const std::size_t size = las.recordSize(), count = in.size() / size;
  const std::string extraBytes = las.extraBytesRecord();
  const std::string record = extraBytes + lasZipRecord(kLazChunkPoints, size - kLasRecordSize);
  std::string out = las.header(count, 0x87, extraBytes.empty() ? 1 : 2,
                               static_cast<std::uint32_t>(record.size()));
  out += record + std::string(8, '\0');
  std::vector<std::uint32_t> sizes;
  for (std::size_t start = 0; start < count; start += kLazChunkPoints) {
    const std::vector<unsigned char> chunk =
        compressLazChunk(records + start * size, std::min(kLazChunkPoints, count - start), size);
    out.append(chunk.begin(), chunk.end());
    sizes.push_back(static_cast<std::uint32_t>(chunk.size()));
  }
  putLittleEndian(reinterpret_cast<unsigned char*>(&out[kLasHeaderSize + record.size()]),
                  static_cast<std::uint64_t>(out.size()));
  const std::vector<unsigned char> table = lazChunkTable(sizes);
  out.append(table.begin(), table.end());
  std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
  return std::cout ? 0 : 1;
}
