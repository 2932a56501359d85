// LAZ: quarn's LAS (LasRecords) compressed as LASzip compresses LAS 1.4 point format 7 (the
// point-format byte's top bit set, a LASzip record, layered chunks of 50,000 points and their
// table; normals in extra bytes, as BYTE14), which GIS, survey and web tools read. Chunks are
// compressed on every core and written in order, in the memory of a few chunks a core.

#include <algorithm>
#include <vector>

#include "LasRecords.h"
#include "LazChunk.h"
#include "LazChunkPool.h"
#include "LazChunkTable.h"

namespace quarn {

namespace {

class LazWriter final : public PointWriter {
 public:
  LazWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels, bool normals)
      : PointWriter(out, count, pixels, normals),
        records_(normals),
        recordSize_(records_.recordSize()),
        pool_(recordSize_) {}

 private:
  std::string header(std::uint64_t count, std::uint64_t) const override {
    // The ExtraBytes record of the normals, if any, stays where LAS has it, before LASzip's.
    const std::string vlrs =
        records_.extraBytesRecord() + lasZipRecord(kLazChunkPoints, recordSize_ - kLasRecordSize);
    const std::uint32_t vlrCount = recordSize_ > kLasRecordSize ? 2 : 1;
    std::string text =
        records_.header(count, 7 | 0x80, vlrCount, static_cast<std::uint32_t>(vlrs.size())) + vlrs;
    unsigned char at[8];  // where the chunk table is, before the first chunk
    putLittleEndian(at, tableAt_);
    return text.append(reinterpret_cast<const char*>(at), sizeof at);
  }

  bool headerLast() const override { return true; }

  void put(const PointBlock& block) override {
    for (std::size_t start = 0; start < block.count;) {
      if (!chunkReady_) fresh();
      const std::size_t end = std::min(block.count, start + kLazChunkPoints - filled_);
      // Built here, on the writer's thread: a point out of range throws before any compression.
      records_.build(block, start, end, chunk_.data() + filled_ * recordSize_);
      filled_ += end - start;
      start = end;
      if (filled_ == kLazChunkPoints) queue();
    }
  }

  // The last chunk, the ones still compressing and the table, so that the header can point at it.
  void beforeHeader() override {
    if (filled_ > 0) {
      if (pool_.pending() == 0) {
        write(compressLazChunk(chunk_.data(), filled_, recordSize_));
      } else {
        queue();
      }
    }
    while (pool_.pending() > 0) write(pool_.take(spare_));
    const std::ostream::pos_type at = out_.tellp();
    if (at == std::ostream::pos_type(-1)) out_.setstate(std::ios::failbit);
    tableAt_ = static_cast<std::uint64_t>(at);
    const std::vector<unsigned char> table = lazChunkTable(chunkBytes_);
    out_.write(reinterpret_cast<const char*>(table.data()),
               static_cast<std::streamsize>(table.size()));
  }

  void fresh() {
    chunk_ = std::move(spare_);
    chunk_.resize(kLazChunkPoints * recordSize_);
    chunkReady_ = true;
  }

  void queue() {
    while (pool_.pending() >= pool_.limit()) write(pool_.take(spare_));
    pool_.queue(std::move(chunk_), filled_);
    filled_ = 0;
    chunkReady_ = false;
    while (pool_.oldestReady()) write(pool_.take(spare_));
  }

  void write(const std::vector<unsigned char>& chunk) {
    out_.write(reinterpret_cast<const char*>(chunk.data()),
               static_cast<std::streamsize>(chunk.size()));
    chunkBytes_.push_back(static_cast<std::uint32_t>(chunk.size()));
  }

  LasRecords records_;
  std::size_t recordSize_;  // 36, or 48 with the normals' extra bytes
  std::vector<unsigned char> chunk_, spare_;
  std::size_t filled_ = 0;
  bool chunkReady_ = false;
  std::vector<std::uint32_t> chunkBytes_;
  std::uint64_t tableAt_ = 0;
  LazChunkPool pool_;  // last: its threads stop before the buffers they read go
};

}  // namespace

std::unique_ptr<PointWriter> makeLazWriter(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals) {
  return std::make_unique<LazWriter>(out, count, pixels, normals);
}

}  // namespace quarn
