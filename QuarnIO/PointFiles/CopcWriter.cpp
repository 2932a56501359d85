// COPC 1.0: quarn's LAZ (LasRecords compressed as LazChunk does) whose chunks are the nodes of
// an octree (CopcOctree), one chunk a node, with the octree's cube in a record first after the
// header and every node's key, place and count in a hierarchy at the end. A viewer reads the
// nodes it shows and nothing else.
//
// The cube needs the cloud's bounds, known only after the last point, and a scan has no bound on
// its size. So the records go to an unnamed temporary file as they come, in pages by the cell of
// a coarse grid over the records' steps, which is coarsened whenever the cells held grow too
// many. At the end the cube is laid over those cells, the subtrees of at most a million points
// each are built from their pages on every core (in the memory of a few subtrees), and the levels
// above them are sampled from their roots. Everything but the points is written then, the header
// last: the bytes never depend on threads or timing.

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>
#include <unordered_map>
#include <vector>

#include "CopcOctree.h"
#include "CopcTempFile.h"
#include "CopcWriter.h"
#include "LasRecords.h"
#include "LazChunk.h"
#include "LazChunkPool.h"
#include "LazChunkTable.h"

namespace quarn {

namespace {

constexpr std::size_t kRun = 1 << 12;              // records built at once, as LAS does
constexpr std::size_t kPageRecords = 512;          // a cell's records spilled at once: 18 KB
constexpr std::size_t kMostCells = 1024;           // cells held at once: 18 MB of pages at most
constexpr int kFirstCellShift = 10;                // the first cells: 2^10 steps, 10 cm a side
constexpr std::uint64_t kSubtreePoints = 1000000;  // a subtree's points, built in memory
constexpr std::uint64_t kPointsInFlight = 4 * kSubtreePoints;  // over all threads
constexpr std::size_t kInfoSize = 160, kVlrHeaderSize = 54, kEvlrHeaderSize = 60;
constexpr std::size_t kEntrySize = 32;
constexpr double kScale = 0.0001;  // LasRecords' step

std::int64_t floorShift(std::int64_t value, int shift) {
  return value >= 0 ? value >> shift : -((-value - 1) >> shift) - 1;
}

void putDouble(unsigned char* at, double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  putLittleEndian(at, bits);
}

double getDouble(const unsigned char* at) {
  std::uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= std::uint64_t{at[i]} << 8 * i;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

struct Cell {
  std::int32_t x, y, z;
  friend bool operator==(const Cell& a, const Cell& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
  }
  friend bool operator<(const Cell& a, const Cell& b) {
    return std::tie(a.x, a.y, a.z) < std::tie(b.x, b.y, b.z);
  }
};

Cell halved(const Cell& c) {
  return {static_cast<std::int32_t>(floorShift(c.x, 1)),
          static_cast<std::int32_t>(floorShift(c.y, 1)),
          static_cast<std::int32_t>(floorShift(c.z, 1))};
}

struct CellHash {
  std::size_t operator()(const Cell& c) const {
    return static_cast<std::size_t>((std::uint64_t(std::uint32_t(c.x)) * 0x9E3779B97F4A7C15u) ^
                                    (std::uint64_t(std::uint32_t(c.y)) * 0xC2B2AE3D27D4EB4Fu) ^
                                    (std::uint64_t(std::uint32_t(c.z)) * 0x165667B19E3779F9u));
  }
};

// Records spilled together: a cell's, at `at` in the temporary file.
struct Page {
  Cell cell;
  std::uint64_t at;
  std::uint32_t count;
};

// A node's points held till the levels above it are sampled.
struct Kept {
  std::vector<unsigned char> records;
  bool parent = false;
};

struct Chunk {
  CopcKey key;
  std::uint32_t count;
  std::vector<unsigned char> bytes;
};

// A subtree built from its pages: its nodes' chunks but its root's, whose points wait for the
// levels above.
struct Subtree {
  CopcKey key;
  std::uint64_t count = 0;
  std::vector<Page> pages;  // in the file's order
  std::vector<Chunk> chunks;
  Kept root;
  bool done = false;
  std::exception_ptr error;
};

std::vector<unsigned char> gather(const unsigned char* records, std::size_t size,
                                  const std::uint32_t* first, const std::uint32_t* last) {
  std::vector<unsigned char> out(static_cast<std::size_t>(last - first) * size);
  unsigned char* at = out.data();
  for (const std::uint32_t* i = first; i != last; ++i, at += size)
    std::memcpy(at, records + std::size_t{*i} * size, size);
  return out;
}

class CopcWriter final : public PointWriter {
 public:
  CopcWriter(std::ostream& out, std::uint64_t count, std::uint64_t pixels, bool normals)
      : PointWriter(out, count, pixels, normals),
        records_(normals),
        recordSize_(records_.recordSize()) {}

 private:
  std::string header(std::uint64_t count, std::uint64_t) const override {
    // COPC's record first; the normals' ExtraBytes record, if any, before LASzip's, as in LAZ.
    const std::string vlrs = records_.extraBytesRecord() +
                             lasZipRecord(kLazVariableChunks, recordSize_ - kLasRecordSize);
    std::string text =
        records_.header(count, 7 | 0x80, recordSize_ > kLasRecordSize ? 3 : 2,
                        static_cast<std::uint32_t>(kVlrHeaderSize + kInfoSize + vlrs.size()));
    unsigned char evlrs[12];
    putLittleEndian(evlrs, evlrAt_);
    putLittleEndian(evlrs + 8, std::uint32_t{1});
    text.replace(235, sizeof evlrs, reinterpret_cast<const char*>(evlrs), sizeof evlrs);
    text += infoRecord(text) + vlrs;
    unsigned char at[8];  // where the chunk table is, before the first chunk
    putLittleEndian(at, tableAt_);
    return text.append(reinterpret_cast<const char*>(at), sizeof at);
  }

  bool headerLast() const override { return true; }

  void put(const PointBlock& block) override {
    run_.resize(kRun * recordSize_);
    for (std::size_t start = 0; start < block.count; start += kRun) {
      const std::size_t end = std::min(block.count, start + kRun);
      records_.build(block, start, end, run_.data());
      for (std::size_t i = 0; i < end - start; ++i) spill(run_.data() + i * recordSize_);
    }
  }

  // The octree, its chunks, their table and the hierarchy, so that the header can point at them.
  void beforeHeader() override {
    flushCells();
    const std::ostream::pos_type at = out_.tellp();
    if (at == std::ostream::pos_type(-1)) out_.setstate(std::ios::failbit);
    written_ = static_cast<std::uint64_t>(at);
    if (!pages_.empty()) {
      layCube();
      buildSubtrees();
      buildUpperLevels();
    } else {
      cube_.shift = cellShift_;  // a cube, though empty: a cell at the offset
      entries_.push_back({CopcKey{}, 0, 0, 0});
    }
    tableAt_ = written_;
    const std::vector<unsigned char> table = lazChunkTable(chunkBytes_, &chunkPoints_);
    write(table.data(), table.size());
    writeHierarchy();
  }

  // --- The first pass: records to pages by cell.

  void spill(const unsigned char* record) {
    const Cell cell = cellOf(record);
    if (current_ == nullptr || !(cell == current_->cell)) current_ = &cellFor(cell);
    std::memcpy(current_->records.data() + current_->count * recordSize_, record, recordSize_);
    if (++current_->count == kPageRecords) flush(*current_);
    const double time = getDouble(record + 22);
    timeLow_ = std::min(timeLow_, time);
    timeHigh_ = std::max(timeHigh_, time);
  }

  struct Pending {
    Cell cell;
    std::vector<unsigned char> records;
    std::uint32_t count = 0;
  };

  Cell cellOf(const unsigned char* record) const {
    return {static_cast<std::int32_t>(floorShift(lasCoordinate(record, 0), cellShift_)),
            static_cast<std::int32_t>(floorShift(lasCoordinate(record, 1), cellShift_)),
            static_cast<std::int32_t>(floorShift(lasCoordinate(record, 2), cellShift_))};
  }

  Pending& cellFor(Cell cell) {
    const auto found = cellIndex_.find(cell);
    if (found != cellIndex_.end()) return cells_[found->second];
    if (cells_.size() == kMostCells) {  // twice as coarse: the cells held shrink about fourfold
      flushCells();
      cells_.clear();
      cellIndex_.clear();
      ++cellShift_;
      for (Page& page : pages_) page.cell = halved(page.cell);
      cell = halved(cell);
    }
    cellIndex_.emplace(cell, cells_.size());
    cells_.reserve(kMostCells);  // never moved: current_ points into it
    cells_.emplace_back();
    cells_.back().cell = cell;
    cells_.back().records.resize(kPageRecords * recordSize_);
    return cells_.back();
  }

  void flush(Pending& cell) {
    if (cell.count == 0) return;
    const std::uint64_t at = spill_.append(cell.records.data(), cell.count * recordSize_);
    pages_.push_back({cell.cell, at, cell.count});
    cell.count = 0;
  }

  void flushCells() {
    for (Pending& cell : cells_) flush(cell);
    current_ = nullptr;
  }

  // --- The octree.

  // The cube over the cells, whose corners it shares: each cell is a node of the level
  // `cellLevel_`.
  void layCube() {
    Cell low = pages_[0].cell, high = low;
    for (const Page& page : pages_) {
      low = {std::min(low.x, page.cell.x), std::min(low.y, page.cell.y),
             std::min(low.z, page.cell.z)};
      high = {std::max(high.x, page.cell.x), std::max(high.y, page.cell.y),
              std::max(high.z, page.cell.z)};
    }
    const std::int64_t span = std::max(
        {std::int64_t{high.x} - low.x, std::int64_t{high.y} - low.y, std::int64_t{high.z} - low.z});
    while ((std::int64_t{1} << cellLevel_) <= span) ++cellLevel_;
    cube_.shift = cellShift_ + cellLevel_;
    cube_.low[0] = std::int64_t{low.x} * (std::int64_t{1} << cellShift_);
    cube_.low[1] = std::int64_t{low.y} * (std::int64_t{1} << cellShift_);
    cube_.low[2] = std::int64_t{low.z} * (std::int64_t{1} << cellShift_);
    cellLow_ = low;
  }

  CopcKey nodeOf(const Cell& cell) const {
    return {cellLevel_, cell.x - cellLow_.x, cell.y - cellLow_.y, cell.z - cellLow_.z};
  }

  // Subtrees from the root down: a node of at most kSubtreePoints points, or a cell, is one;
  // above them, the upper levels, sampled from the subtrees' roots.
  void planSubtrees() {
    std::map<CopcKey, std::uint64_t> counts;
    for (const Page& page : pages_) {
      CopcKey key = nodeOf(page.cell);
      for (;; key = key.parent()) {
        counts[key] += page.count;
        if (key.level == 0) break;
      }
    }
    std::vector<CopcKey> stack = {CopcKey{}};
    std::map<CopcKey, std::size_t> subtreeOf;
    while (!stack.empty()) {
      const CopcKey key = stack.back();
      stack.pop_back();
      const std::uint64_t count = counts[key];
      if (count <= kSubtreePoints || key.level == cellLevel_) {
        subtreeOf.emplace(key, subtrees_.size());
        subtrees_.emplace_back();
        subtrees_.back().key = key;
        subtrees_.back().count = count;
        continue;
      }
      upper_.push_back(key);
      for (int octant = 7; octant >= 0; --octant) {
        const CopcKey child = key.child(octant);
        if (counts.count(child) != 0) stack.push_back(child);
      }
    }
    for (const Page& page : pages_) {
      CopcKey key = nodeOf(page.cell);
      while (subtreeOf.count(key) == 0) key = key.parent();
      subtrees_[subtreeOf[key]].pages.push_back(page);
    }
  }

  void build(Subtree& subtree) {
    std::vector<unsigned char> records(subtree.count * recordSize_);
    unsigned char* at = records.data();
    for (const Page& page : subtree.pages) {
      spill_.read(page.at, at, page.count * recordSize_);
      at += page.count * recordSize_;
    }
    std::vector<std::uint32_t> index(subtree.count);
    std::iota(index.begin(), index.end(), 0);
    copcSubtree(
        cube_, subtree.key, records.data(), recordSize_, index.data(), index.data() + index.size(),
        [&](const CopcKey& key, const std::uint32_t* first, const std::uint32_t* last,
            bool parent) {
          std::vector<unsigned char> points = gather(records.data(), recordSize_, first, last);
          if (key == subtree.key) {
            subtree.root = {std::move(points), parent};
          } else {
            const auto count = static_cast<std::uint32_t>(last - first);
            subtree.chunks.push_back(
                {key, count, compressLazChunk(points.data(), count, recordSize_)});
          }
        });
  }

  // Subtrees are built on every core, a few in flight within kPointsInFlight, and written in
  // order as they are done.
  void buildSubtrees() {
    planSubtrees();
    if (subtrees_.size() == 1) {
      build(subtrees_[0]);
      writeSubtree(subtrees_[0]);
      return;
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t next = 0, taken = 0;
    std::uint64_t inFlight = 0;
    bool stopping = false;
    const std::size_t threads =
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), subtrees_.size());
    auto work = [&] {
      std::unique_lock<std::mutex> lock(mutex);
      for (;;) {
        changed.wait(lock, [&] {
          return stopping || next == subtrees_.size() ||
                 (next < taken + 2 * threads &&
                  (inFlight == 0 || inFlight + subtrees_[next].count <= kPointsInFlight));
        });
        if (stopping || next == subtrees_.size()) return;
        Subtree& subtree = subtrees_[next++];
        inFlight += subtree.count;
        lock.unlock();
        try {
          build(subtree);
        } catch (...) {
          subtree.error = std::current_exception();
        }
        lock.lock();
        inFlight -= subtree.count;
        subtree.done = true;
        changed.notify_all();
      }
    };
    struct Joined {  // the threads stop, whatever happens here
      std::vector<std::thread> all;
      std::function<void()> stop;
      ~Joined() {
        stop();
        for (std::thread& thread : all) thread.join();
      }
    } pool;
    pool.stop = [&] {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
      changed.notify_all();
    };
    for (std::size_t i = 0; i < threads; ++i) pool.all.emplace_back(work);
    for (Subtree& subtree : subtrees_) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return subtree.done; });
      }
      if (subtree.error) std::rethrow_exception(subtree.error);
      writeSubtree(subtree);
      std::lock_guard<std::mutex> lock(mutex);
      ++taken;
      changed.notify_all();
    }
  }

  void writeSubtree(Subtree& subtree) {
    for (Chunk& chunk : subtree.chunks) writeChunk(chunk.key, chunk.count, chunk.bytes);
    kept_.emplace(subtree.key, std::move(subtree.root));
    subtree = Subtree{};
  }

  // Each level above the subtrees, deepest first: a node's sample is taken from its children's
  // points, which keep the rest. Then every node held back is written, by key.
  void buildUpperLevels() {
    std::stable_sort(upper_.begin(), upper_.end(),
                     [](const CopcKey& a, const CopcKey& b) { return a.level > b.level; });
    for (const CopcKey& key : upper_) {
      std::vector<unsigned char> candidates;
      std::vector<Kept*> owners;
      for (int octant = 0; octant < 8; ++octant) {
        const auto child = kept_.find(key.child(octant));
        if (child == kept_.end()) continue;
        candidates.insert(candidates.end(), child->second.records.begin(),
                          child->second.records.end());
        owners.insert(owners.end(), child->second.records.size() / recordSize_, &child->second);
        child->second.records.clear();
      }
      std::vector<std::uint32_t> index(owners.size());
      std::iota(index.begin(), index.end(), 0);
      const std::size_t sampled = copcSample(cube_, key, candidates.data(), recordSize_,
                                             index.data(), index.data() + index.size());
      for (std::size_t i = sampled; i < index.size(); ++i) {
        const unsigned char* record = candidates.data() + std::size_t{index[i]} * recordSize_;
        owners[index[i]]->records.insert(owners[index[i]]->records.end(), record,
                                         record + recordSize_);
      }
      kept_[key] = {gather(candidates.data(), recordSize_, index.data(), index.data() + sampled),
                    true};
    }
    LazChunkPool pool(recordSize_);
    std::vector<CopcKey> queued;
    std::size_t taken = 0;
    std::vector<unsigned char> spare;
    for (auto& [key, node] : kept_) {
      const std::size_t count = node.records.size() / recordSize_;
      if (count == 0) {  // all taken by the levels above: a key its children need, or nothing
        if (node.parent) entries_.push_back({key, 0, 0, 0});
        continue;
      }
      while (pool.pending() >= pool.limit()) writeTaken(pool, queued[taken++], spare);
      pool.queue(std::move(node.records), count);
      queued.push_back(key);
    }
    while (pool.pending() > 0) writeTaken(pool, queued[taken++], spare);
  }

  void writeTaken(LazChunkPool& pool, const CopcKey& key, std::vector<unsigned char>& spare) {
    const std::vector<unsigned char> chunk = pool.take(spare);
    writeChunk(key, static_cast<std::uint32_t>(spare.size() / recordSize_), chunk);
  }

  // --- The file.

  struct Entry {
    CopcKey key;
    std::uint64_t at;
    std::uint32_t bytes;
    std::int32_t count;
  };

  void write(const void* data, std::size_t size) {
    out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    written_ += size;
  }

  void writeChunk(const CopcKey& key, std::uint32_t count,
                  const std::vector<unsigned char>& bytes) {
    entries_.push_back({key, written_, static_cast<std::uint32_t>(bytes.size()),
                        static_cast<std::int32_t>(count)});
    chunkBytes_.push_back(static_cast<std::uint32_t>(bytes.size()));
    chunkPoints_.push_back(count);
    write(bytes.data(), bytes.size());
  }

  // One page of every node's entry, by key, in a record after the chunk table.
  void writeHierarchy() {
    std::sort(entries_.begin(), entries_.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    std::vector<unsigned char> page(kEvlrHeaderSize + kEntrySize * entries_.size());
    std::memcpy(page.data() + 2, "copc", 4);
    putLittleEndian(page.data() + 18, std::uint16_t{1000});
    putLittleEndian(page.data() + 20, static_cast<std::uint64_t>(kEntrySize * entries_.size()));
    std::memcpy(page.data() + 28, "octree hierarchy", 16);
    unsigned char* at = page.data() + kEvlrHeaderSize;
    for (const Entry& entry : entries_) {
      putLittleEndian(at, static_cast<std::uint32_t>(entry.key.level));
      putLittleEndian(at + 4, static_cast<std::uint32_t>(entry.key.x));
      putLittleEndian(at + 8, static_cast<std::uint32_t>(entry.key.y));
      putLittleEndian(at + 12, static_cast<std::uint32_t>(entry.key.z));
      putLittleEndian(at + 16, entry.at);
      putLittleEndian(at + 24, entry.bytes);
      putLittleEndian(at + 28, static_cast<std::uint32_t>(entry.count));
      at += kEntrySize;
    }
    evlrAt_ = written_;
    write(page.data(), page.size());
  }

  // The cube in the header's coordinates (its offset at 155), the root's spacing (its sample
  // grid's cell), where the hierarchy's page is and the span of GPS times.
  std::string infoRecord(const std::string& header) const {
    unsigned char v[kVlrHeaderSize + kInfoSize] = {};
    std::memcpy(v + 2, "copc", 4);
    putLittleEndian(v + 18, std::uint16_t{1});
    putLittleEndian(v + 20, static_cast<std::uint16_t>(kInfoSize));
    std::memcpy(v + 22, "copc info", 9);
    unsigned char* d = v + kVlrHeaderSize;
    const auto* h = reinterpret_cast<const unsigned char*>(header.data());
    const double side = std::ldexp(1.0, cube_.shift);
    for (int k = 0; k < 3; ++k)
      putDouble(d + 8 * k, getDouble(h + 155 + 8 * k) + (cube_.low[k] + side / 2) * kScale);
    putDouble(d + 24, side / 2 * kScale);
    putDouble(d + 32, std::ldexp(side, -kCopcGridBits) * kScale);
    putLittleEndian(d + 40, evlrAt_ + kEvlrHeaderSize);
    putLittleEndian(d + 48, static_cast<std::uint64_t>(kEntrySize * entries_.size()));
    const bool any = timeLow_ <= timeHigh_;
    putDouble(d + 56, any ? timeLow_ : 0.0);
    putDouble(d + 64, any ? timeHigh_ : 0.0);
    return std::string(reinterpret_cast<const char*>(v), sizeof v);
  }

  LasRecords records_;
  std::size_t recordSize_;  // 36, or 48 with the normals' extra bytes
  std::vector<unsigned char> run_;
  double timeLow_ = HUGE_VAL, timeHigh_ = -HUGE_VAL;

  CopcTempFile spill_;
  int cellShift_ = kFirstCellShift;
  std::vector<Pending> cells_;
  std::unordered_map<Cell, std::size_t, CellHash> cellIndex_;
  Pending* current_ = nullptr;
  std::vector<Page> pages_;

  CopcCube cube_;
  Cell cellLow_{};
  int cellLevel_ = 0;
  std::vector<Subtree> subtrees_;
  std::vector<CopcKey> upper_;
  std::map<CopcKey, Kept> kept_;

  std::uint64_t written_ = 0, tableAt_ = 0, evlrAt_ = 0;
  std::vector<std::uint32_t> chunkBytes_, chunkPoints_;
  std::vector<Entry> entries_;
};

}  // namespace

std::unique_ptr<PointWriter> makeCopcWriter(std::ostream& out, std::uint64_t count,
                                            std::uint64_t pixels, bool normals) {
  return std::make_unique<CopcWriter>(out, count, pixels, normals);
}

}  // namespace quarn
