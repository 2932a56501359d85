// A small valid scan mutated a few thousand ways, each imported through the built plug-in
// loaded as a host loads it. Every result must be a clean refusal or an exact import, with
// nothing allocated beyond what the file holds (checkScanInput checks each).

#include <algorithm>
#include <climits>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>

#include "HostileTestSupport.h"
#include "ScanStatus.h"
#include "SeedScans.h"

namespace quarn::hostile::test {
namespace {

using scan::kFrameHeaderSize;
using scan::kHeaderSize;
using scan::test::frameOffset;
using scan::test::put;

struct Mutant {
  std::string name;
  Bytes bytes;
};

const std::int32_t kExtremes[] = {0,     1,       -1,      2,           3,       255,
                                  65536, 1 << 30, INT_MAX, INT_MAX - 1, INT_MIN, INT_MIN + 1};

class MutationTest : public HostileInputTest {
 protected:
  void SetUp() override {
    // Four frames, 2 x 3, 0 x 4, 0 x 0 and 3 x 2, so that mutations meet empty frames too.
    good_ = scan::test::readBytes(writeSeedScans(dir_.path().string()).at(2));
    ASSERT_EQ(frameCount(), 4);
  }

  int frameCount() const { return static_cast<int>(good_[scan::kFrameCountOffset]); }

  template <typename T>
  void add(std::string name, std::size_t offset, T value) {
    Bytes bytes = good_;
    put(bytes, offset, value);
    mutants_.push_back({std::move(name), std::move(bytes)});
  }

  void addBitFlip(std::size_t bit) {
    Bytes bytes = good_;
    bytes[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
    mutants_.push_back({"bit " + std::to_string(bit) + " flipped", std::move(bytes)});
  }

  // The tally of the mutants added so far, which are then dropped.
  Tally checkMutants() {
    const Tally tally = check(mutants_);
    mutants_.clear();
    return tally;
  }

  Bytes good_;
  std::vector<Mutant> mutants_;
};

TEST_F(MutationTest, TruncatedFlippedAndOverwrittenScans) {
  // Every length up to the first frame's pixels, every eighth after.
  const std::size_t pixels = frameOffset(good_, 0) + kFrameHeaderSize;
  for (std::size_t size = 0; size < good_.size(); size += size < pixels ? 1 : 8) {
    mutants_.push_back(
        {"cut to " + std::to_string(size), Bytes(good_.begin(), good_.begin() + size)});
  }
  const Tally truncated = checkMutants();
  EXPECT_EQ(truncated.opened, 0);

  // Every bit of the magic, version, frame count, frame table and frame sizes; then bits and
  // short runs of bytes anywhere, poses and pixels included.
  for (std::size_t bit = 0; bit < 8 * scan::kScanPoseOffset; ++bit) addBitFlip(bit);
  for (std::size_t bit = 8 * kHeaderSize; bit < 8 * frameOffset(good_, 0); ++bit) addBitFlip(bit);
  for (int f = 0; f < frameCount(); ++f) {
    for (std::size_t bit = 0; bit < 64; ++bit) addBitFlip(8 * frameOffset(good_, f) + bit);
  }
  std::mt19937 random(6);
  for (int i = 0; i < 500; ++i) addBitFlip(random() % (8 * good_.size()));
  for (int i = 0; i < 150; ++i) {
    Bytes bytes = good_;
    const std::size_t at = random() % bytes.size(), length = 1 + random() % 8;
    for (std::size_t j = at; j < std::min(at + length, bytes.size()); ++j) {
      bytes[j] = static_cast<unsigned char>(random());
    }
    mutants_.push_back({"bytes from " + std::to_string(at) + " overwritten", std::move(bytes)});
  }
  const Tally mutated = checkMutants();
  EXPECT_GT(mutated.imported, 0);
  EXPECT_LT(mutated.opened, mutated.tried);
}

TEST_F(MutationTest, ExtremeCountsSizesAndPoses) {
  for (const std::int32_t value : kExtremes) {
    const std::string v = std::to_string(value);
    add("frame count " + v, scan::kFrameCountOffset, value);
    add("version " + v, scan::kVersionOffset, value);
    for (int f = 0; f < frameCount(); ++f) {
      add("frame " + std::to_string(f) + " sizeX " + v, frameOffset(good_, f), value);
      add("frame " + std::to_string(f) + " sizeY " + v, frameOffset(good_, f) + 4, value);
    }
  }
  const Tally fields = checkMutants();
  EXPECT_GT(fields.imported, 0);

  // Both sizes of a frame claiming more pixels than any file here holds: refused at open,
  // before anything is allocated for them.
  for (const std::int32_t size : {INT_MAX, INT_MIN, 1 << 16, 1 << 30}) {
    for (int f = 0; f < frameCount(); ++f) {
      Bytes bytes = good_;
      put(bytes, frameOffset(good_, f), size);
      put(bytes, frameOffset(good_, f) + 4, size);
      mutants_.push_back({"frame " + std::to_string(f) + " " + std::to_string(size) + " squared",
                          std::move(bytes)});
    }
  }
  const Tally huge = checkMutants();
  EXPECT_EQ(huge.opened, 0);

  // Poses that are no rotation, or carry NaN and infinities, in the scan and in each frame.
  const double specials[] = {0.0, 1e308, -4.9e-324, std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
  for (int pose = -1; pose < frameCount(); ++pose) {
    const std::size_t at = pose < 0 ? scan::kScanPoseOffset : frameOffset(good_, pose) + 8;
    for (std::size_t value = 0; value < scan::kPoseValues; ++value) {
      for (const double special : specials) {
        add("pose " + std::to_string(pose) + " value " + std::to_string(value) + " " +
                std::to_string(special),
            at + 8 * value, special);
      }
    }
  }
  const Tally poses = checkMutants();
  EXPECT_GT(poses.imported, 0);
  EXPECT_LT(poses.imported, poses.tried);
}

TEST_F(MutationTest, FrameTablesPointingAnywhere) {
  // Each entry at offsets all over and just past the file, one either side of every boundary
  // a record can meet, and at offsets that overflow when added to or multiplied.
  std::vector<std::uint64_t> boundaries = {kHeaderSize + 8 * frameCount(),
                                           good_.size() - kFrameHeaderSize, good_.size()};
  for (int f = 0; f < frameCount(); ++f) boundaries.push_back(frameOffset(good_, f));
  const std::uint64_t extremes[] = {~0ull,
                                    1ull << 63,
                                    1ull << 32,
                                    INT_MAX,
                                    0x80000000,
                                    ~0ull - kFrameHeaderSize + 1,
                                    static_cast<std::uint64_t>(static_cast<std::int64_t>(INT_MIN))};
  for (int f = 0; f < frameCount(); ++f) {
    const std::size_t entry = kHeaderSize + 8 * f;
    const std::string name = "frame " + std::to_string(f) + " at ";
    // Every third offset for the first frame, every ninth for the others.
    for (std::uint64_t offset = 0; offset <= good_.size() + 1; offset += f == 0 ? 3 : 9) {
      add(name + std::to_string(offset), entry, offset);
    }
    for (const std::uint64_t boundary : boundaries) {
      for (const std::uint64_t offset : {boundary - 1, boundary, boundary + 1}) {
        add(name + std::to_string(offset), entry, offset);
      }
    }
    for (const std::uint64_t offset : extremes) add(name + std::to_string(offset), entry, offset);
  }
  Bytes same = good_;  // every frame at the last record
  for (int f = 0; f < frameCount(); ++f) put(same, kHeaderSize + 8 * f, frameOffset(good_, 3));
  mutants_.push_back({"all frames at one record", same});

  const Tally tables = checkMutants();
  EXPECT_GT(tables.imported, 0);
  EXPECT_LT(tables.opened, tables.tried);
}

// Each frame claims 2^31 - 1 columns of no pixels. The plug-in used to walk those columns, a
// second's work per frame: this file kept a host busy for half an hour (the test times out).
TEST_F(HostileInputTest, FramesOfEmptyColumnsAreNoWork) {
  const std::string path = dir_.file("wide.qscan");
  scan::PoseArray identity{};
  identity[0] = identity[5] = identity[10] = identity[15] = 1;
  scan::ScanWriter writer(path, 2000, identity);
  for (int f = 0; f < 2000; ++f) writer.addFrame(INT_MAX, 0, identity, nullptr);
  writer.finish();
  const std::vector<Mutant> wide = {{"2000 frames of 2^31 - 1 x 0", scan::test::readBytes(path)}};
  EXPECT_EQ(check(wide).imported, 1);
}

}  // namespace
}  // namespace quarn::hostile::test
