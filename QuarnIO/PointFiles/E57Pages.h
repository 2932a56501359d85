#pragma once

// The paged layer of an E57 file: the logical bytes go out in pages of 1020, each followed by
// the CRC-32C of those bytes, big-endian. Some bytes are known only after those that follow
// them (the file header in page 0's first 48, a section's length before its packets): their
// place is held, and the pages it lies in are kept to be written again once it is filled.

#include <array>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quarn::e57 {

constexpr std::uint64_t kPageSize = 1024;
constexpr std::uint64_t kPagePayload = kPageSize - 4;

// CRC-32C (Castagnoli, reflected 0x82F63B78, initial and final ~0): by the processor's own
// instruction where it has one, else by crc32cByTables.
std::uint32_t crc32c(const unsigned char* data, std::size_t size);
// The same, on any processor, eight bytes a step through tables.
std::uint32_t crc32cByTables(const unsigned char* data, std::size_t size);

inline std::uint64_t physicalOffset(std::uint64_t logical) {
  return logical / kPagePayload * kPageSize + logical % kPagePayload;
}

// Little-endian values appended to a byte string, the same bytes on any machine.
inline void putLittle(std::string& to, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) to.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

class PagedStream {
 public:
  // From `out`'s position on, which must be seekable for finish().
  explicit PagedStream(std::ostream& out);

  std::uint64_t logicalLength() const { return pagesOut_ * kPagePayload + filled_; }
  std::uint64_t physicalLength() const;
  void write(const void* data, std::size_t size);
  void write(const std::string& bytes) { write(bytes.data(), bytes.size()); }
  void zerosTo(std::uint64_t alignment);
  // Writes `size` zeros whose place `fill` fills later; returns their logical offset.
  std::uint64_t hold(std::size_t size);
  // Puts `bytes` at logical offset `at`, in a place held, written again where it is out.
  void fill(std::uint64_t at, const std::string& bytes);
  // Pads the last page with zeros and writes it out.
  void finish();

 private:
  using Page = std::array<unsigned char, kPagePayload>;
  struct HeldPage {
    std::uint64_t index;
    Page bytes;
  };

  void pageOut();
  void writePage(const Page& page);

  std::ostream& out_;
  std::ostream::pos_type begin_;
  Page page_{};
  std::size_t filled_ = 0;
  std::uint64_t pagesOut_ = 0;
  std::uint64_t heldUpTo_ = 0;  // logical end of the last place held
  std::vector<HeldPage> held_;  // pages out that a place held lies in
};

}  // namespace quarn::e57
