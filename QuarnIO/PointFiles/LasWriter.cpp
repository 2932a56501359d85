// ASPRS LAS 1.4 with point data record format 7 (LasRecords), little-endian. No VLRs: the
// coordinates are the scan's own, with no coordinate system to name.

#include <algorithm>
#include <vector>

#include "LasRecords.h"

namespace quarn {

namespace {

constexpr std::size_t kChunk = 1 << 12;  // records per write: 147 KB, which stays in cache

class LasWriter final : public PointWriter {
 public:
  LasWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels)
      : PointWriter(out, count, pixels) {}

 private:
  std::string header(std::uint64_t count, std::uint64_t) const override {
    return records_.header(count, 7, 0, 0);
  }

  bool headerLast() const override { return true; }

  void put(const PointBlock& block) override {
    buffer_.resize(kChunk * kLasRecordSize);
    for (std::size_t start = 0; start < block.count; start += kChunk) {
      const std::size_t end = std::min(block.count, start + kChunk);
      records_.build(block, start, end, buffer_.data());
      out_.write(reinterpret_cast<const char*>(buffer_.data()),
                 static_cast<std::streamsize>((end - start) * kLasRecordSize));
    }
  }

  LasRecords records_;
  std::vector<unsigned char> buffer_;
};

}  // namespace

std::unique_ptr<PointWriter> makeLasWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels) {
  return std::make_unique<LasWriter>(out, count, pixels);
}

}  // namespace quarn
