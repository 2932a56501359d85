#include "E57Pages.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace quarn::e57 {

namespace {

// Eight tables, eight bytes a step: table[k][b] is the CRC of byte b followed by k zeros.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;

CrcTables crcTables() {
  CrcTables table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1u)));
    table[0][i] = c;
  }
  for (std::size_t k = 1; k < 8; ++k)
    for (std::size_t i = 0; i < 256; ++i)
      table[k][i] = (table[k - 1][i] >> 8) ^ table[0][table[k - 1][i] & 0xFF];
  return table;
}

#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define QUARN_CRC32C_INSTRUCTION 1
// The processor's own CRC-32C instruction (SSE 4.2), eight bytes a step: several times the
// tables' speed. Compiled for it here only, and called only where the processor has it.
__attribute__((target("sse4.2"))) std::uint32_t crc32cInstruction(const unsigned char* data,
                                                                  std::size_t size) {
  std::uint64_t crc = ~0u;
  for (; size >= 8; size -= 8, data += 8) {
    std::uint64_t word;
    std::memcpy(&word, data, 8);  // the instruction takes the bytes in memory order
    crc = __builtin_ia32_crc32di(crc, word);
  }
  auto low = static_cast<std::uint32_t>(crc);
  for (; size > 0; --size) low = __builtin_ia32_crc32qi(low, *data++);
  return ~low;
}
#endif

}  // namespace

std::uint32_t crc32c(const unsigned char* data, std::size_t size) {
#if defined(QUARN_CRC32C_INSTRUCTION)
  static const bool instruction = __builtin_cpu_supports("sse4.2");
  if (instruction) return crc32cInstruction(data, size);
#endif
  return crc32cByTables(data, size);
}

std::uint32_t crc32cByTables(const unsigned char* data, std::size_t size) {
  static const CrcTables table = crcTables();
  std::uint32_t crc = ~0u;
  for (; size >= 8; size -= 8, data += 8) {
    const std::uint32_t low =
        crc ^ (data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24);
    crc = table[7][low & 0xFF] ^ table[6][(low >> 8) & 0xFF] ^ table[5][(low >> 16) & 0xFF] ^
          table[4][low >> 24] ^ table[3][data[4]] ^ table[2][data[5]] ^ table[1][data[6]] ^
          table[0][data[7]];
  }
  for (; size > 0; --size) crc = table[0][(crc ^ *data++) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

PagedStream::PagedStream(std::ostream& out) : out_(out), begin_(out.tellp()) {
  if (begin_ == std::ostream::pos_type(-1)) out_.setstate(std::ios::failbit);
}

std::uint64_t PagedStream::physicalLength() const {
  return (logicalLength() + kPagePayload - 1) / kPagePayload * kPageSize;
}

void PagedStream::write(const void* data, std::size_t size) {
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const std::size_t n = std::min(size, page_.size() - filled_);
    std::memcpy(page_.data() + filled_, bytes, n);
    filled_ += n;
    bytes += n;
    size -= n;
    if (filled_ == page_.size()) pageOut();
  }
}

void PagedStream::zerosTo(std::uint64_t alignment) {
  static const unsigned char zeros[16] = {};
  write(zeros, (alignment - logicalLength() % alignment) % alignment);
}

std::uint64_t PagedStream::hold(std::size_t size) {
  const std::uint64_t at = logicalLength();
  heldUpTo_ = at + size;
  static const unsigned char zeros[64] = {};
  for (std::size_t left = size; left > 0;) {
    const std::size_t n = std::min(left, sizeof zeros);
    write(zeros, n);
    left -= n;
  }
  return at;
}

void PagedStream::fill(std::uint64_t at, const std::string& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const std::uint64_t index = (at + done) / kPagePayload;
    const std::size_t offset = (at + done) % kPagePayload;
    const std::size_t n = std::min<std::size_t>(bytes.size() - done, kPagePayload - offset);
    if (index == pagesOut_) {  // still being filled
      std::memcpy(page_.data() + offset, bytes.data() + done, n);
    } else {
      const auto page = std::find_if(held_.begin(), held_.end(),
                                     [&](const HeldPage& p) { return p.index == index; });
      if (page == held_.end()) throw std::logic_error("an E57 page filled that was not held");
      std::memcpy(page->bytes.data() + offset, bytes.data() + done, n);
      const std::ostream::pos_type end = out_.tellp();
      out_.seekp(begin_ + static_cast<std::streamoff>(index * kPageSize));
      writePage(page->bytes);
      out_.seekp(end);
    }
    done += n;
  }
}

void PagedStream::pageOut() {
  // A page a held place lies in is kept until it is filled (places are filled in the order
  // they are held, and few are held at once).
  if (pagesOut_ * kPagePayload < heldUpTo_) held_.push_back({pagesOut_, page_});
  writePage(page_);
  page_.fill(0);
  filled_ = 0;
  ++pagesOut_;
}

void PagedStream::writePage(const Page& page) {
  const std::uint32_t crc = crc32c(page.data(), page.size());
  const unsigned char big[4] = {
      static_cast<unsigned char>(crc >> 24), static_cast<unsigned char>(crc >> 16),
      static_cast<unsigned char>(crc >> 8), static_cast<unsigned char>(crc)};
  out_.write(reinterpret_cast<const char*>(page.data()), page.size());
  out_.write(reinterpret_cast<const char*>(big), 4);
}

void PagedStream::finish() {
  if (filled_ > 0) pageOut();  // the rest of it zeros already
}

}  // namespace quarn::e57
