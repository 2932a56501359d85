// E57's paged layer: every page 1020 bytes and its CRC-32C, the physical length the header
// gives, zeros to an alignment, and places held and filled once their pages are out.

#include <cstdint>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "E57Pages.h"

namespace {

using namespace quarn::e57;

std::uint32_t crcOf(const std::string& bytes) {
  return crc32c(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

// The logical bytes of a paged file, each page's CRC checked.
std::string logicalBytes(const std::string& file) {
  EXPECT_EQ(file.size() % kPageSize, 0u);
  std::string logical;
  for (std::size_t at = 0; at + kPageSize <= file.size(); at += kPageSize) {
    const std::string payload = file.substr(at, kPagePayload);
    std::uint32_t stored = 0;
    for (int k = 0; k < 4; ++k)
      stored = stored << 8 | static_cast<unsigned char>(file[at + kPagePayload + k]);
    EXPECT_EQ(stored, crcOf(payload)) << "page " << at / kPageSize;
    logical += payload;
  }
  return logical;
}

std::string pattern(std::size_t size, int seed = 0) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) % 251 + 1);
  return bytes;
}

// RFC 3720's CRC-32C examples, and lengths that are not a multiple of eight, by the
// processor's instruction and by the tables alike.
TEST(E57Pages, Crc32cKnownValues) {
  std::string counting(32, '\0');
  for (int i = 0; i < 32; ++i) counting[i] = static_cast<char>(i);
  const struct {
    std::string bytes;
    std::uint32_t crc;
  } cases[] = {{"", 0x00000000u},
               {std::string(32, '\0'), 0x8A9136AAu},
               {std::string(32, '\xFF'), 0x62A8AB43u},
               {counting, 0x46DD794Eu},
               {"123456789", 0xE3069283u}};
  for (const auto& c : cases) {
    const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
    EXPECT_EQ(crc32c(data, c.bytes.size()), c.crc) << c.bytes.size();
    EXPECT_EQ(crc32cByTables(data, c.bytes.size()), c.crc) << c.bytes.size();
  }
  const std::string page = pattern(kPagePayload);  // and a whole page, every byte a step
  const auto* data = reinterpret_cast<const unsigned char*>(page.data());
  for (std::size_t size = 0; size <= 17; ++size)
    EXPECT_EQ(crc32cByTables(data, kPagePayload - size), crc32c(data, kPagePayload - size));
}

// Whole pages only, the last padded with zeros, as long as the header says.
TEST(E57Pages, PagesAndPhysicalLength) {
  for (const std::size_t size : {0, 1, 1019, 1020, 1021, 2040, 3000}) {
    std::ostringstream out;
    PagedStream pages(out);
    pages.write(pattern(size));
    const std::uint64_t physical = pages.physicalLength();
    pages.finish();
    const std::string file = out.str();
    EXPECT_EQ(physical, (size + kPagePayload - 1) / kPagePayload * kPageSize) << size;
    EXPECT_EQ(file.size(), physical) << size;
    std::string want = pattern(size);
    want.resize(file.size() / kPageSize * kPagePayload, '\0');
    EXPECT_EQ(logicalBytes(file), want) << size;
  }
}

// Zeros up to the next multiple of the alignment, across a page's end too.
TEST(E57Pages, ZerosToAnAlignment) {
  for (const std::size_t size : {0, 1, 7, 8, 9, 1017, 1019, 1020, 1023}) {
    std::ostringstream out;
    PagedStream pages(out);
    pages.write(pattern(size));
    pages.zerosTo(8);
    const std::size_t aligned = pages.logicalLength();
    EXPECT_EQ(aligned, (size + 7) / 8 * 8) << size;
    pages.write("!");
    pages.finish();
    const std::string logical = logicalBytes(out.str());
    EXPECT_EQ(logical.substr(0, size), pattern(size)) << size;
    EXPECT_EQ(logical.substr(size, aligned - size), std::string(aligned - size, '\0')) << size;
    EXPECT_EQ(logical[aligned], '!') << size;
  }
}

// Places held at the start, across a page's end and in the page still being filled, filled
// after the pages they lie in have gone out: each page written again with its CRC.
TEST(E57Pages, HeldPlacesFilledLater) {
  std::ostringstream out;
  PagedStream pages(out);
  const std::uint64_t header = pages.hold(48);
  pages.write(pattern(960, 1));
  const std::uint64_t across = pages.hold(48);  // 1008 to 1056: pages 0 and 1
  pages.write(pattern(2000, 2));
  const std::uint64_t last = pages.hold(8);
  pages.fill(across, pattern(48, 3));
  pages.fill(header, pattern(48, 4));
  pages.fill(last, pattern(8, 5));
  pages.finish();
  std::string want =
      pattern(48, 4) + pattern(960, 1) + pattern(48, 3) + pattern(2000, 2) + pattern(8, 5);
  want.resize(out.str().size() / kPageSize * kPagePayload, '\0');
  EXPECT_EQ(logicalBytes(out.str()), want);
}

}  // namespace
