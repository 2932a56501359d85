// ASPRS LAS 1.4 with point data record format 7 (LasRecords), little-endian. No VLRs but the
// ExtraBytes record of the normals, where asked: the coordinates are the scan's own, with no
// coordinate system to name.

#include <algorithm>
#include <vector>

#include "LasRecords.h"

namespace quarn {

namespace {

constexpr std::size_t kChunk = 1 << 12;  // records per write: 147 KB, which stays in cache

class LasWriter final : public PointWriter {
 public:
  LasWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels, bool normals)
      : PointWriter(out, count, pixels, normals), records_(normals) {}

 private:
  std::string header(std::uint64_t count, std::uint64_t) const override {
    const std::string extraBytes = records_.extraBytesRecord();
    return records_.header(count, 7, extraBytes.empty() ? 0 : 1,
                           static_cast<std::uint32_t>(extraBytes.size())) +
           extraBytes;
  }

  bool headerLast() const override { return true; }

  void put(const PointBlock& block) override {
    const std::size_t size = records_.recordSize();
    buffer_.resize(kChunk * size);
    for (std::size_t start = 0; start < block.count; start += kChunk) {
      const std::size_t end = std::min(block.count, start + kChunk);
      records_.build(block, start, end, buffer_.data());
      out_.write(reinterpret_cast<const char*>(buffer_.data()),
                 static_cast<std::streamsize>((end - start) * size));
    }
  }

  LasRecords records_;
  std::vector<unsigned char> buffer_;
};

}  // namespace

std::unique_ptr<PointWriter> makeLasWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals) {
  return std::make_unique<LasWriter>(out, count, pixels, normals);
}

}  // namespace quarn
