// Damaged scan files: each is refused with its status code and leaves nothing open.

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "DotProductAPI.h"
#include "ScanReader.h"
#include "ScanStatus.h"
#include "ScanTestSupport.h"

namespace quarn::scan::test {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

class ScanDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeScan(path, poseFrom(0), sampleFrames());
    good = readBytes(path);
    ASSERT_EQ(good.size(), 152u + 3 * 8 + (144 + 6 * 16) + 144 + (144 + 16));
  }

  // Opens `bytes` from a file and from memory; both must agree.
  int open(const Bytes& bytes) {
    writeBytes(path, bytes);
    DotProductAPI api;
    const int status = api.open(path.c_str(), nullptr);
    EXPECT_EQ(ScanReader().open(bytes.data(), bytes.size()), status);
    if (status != kOk) {
      EXPECT_EQ(api.getFrameCount(), 0);
    }
    return status;
  }

  template <typename T>
  int openWith(std::size_t offset, T value, std::size_t offset2 = 0, T value2 = {}) {
    Bytes bytes = good;
    put(bytes, offset, value);
    if (offset2 != 0) put(bytes, offset2, value2);
    return open(bytes);
  }

  ScratchDir dir;
  std::string path = dir.file("scan.qscan");
  Bytes good;
};

TEST_F(ScanDamageTest, EveryTruncationIsRefused) {
  ASSERT_EQ(open(good), kOk);
  for (std::size_t size = good.size(); size-- > 0;) {
    EXPECT_EQ(open(Bytes(good.begin(), good.begin() + size)), size < 8 ? kNotScanFile : kDamaged)
        << size;
  }
}

TEST_F(ScanDamageTest, RefusesOtherFilesAndVersions) {
  for (std::size_t i = 0; i < 8; ++i) {
    EXPECT_EQ(openWith<std::uint8_t>(i, good[i] ^ 0x20), kNotScanFile) << i;
  }
  Bytes unixLineEnds = good;  // what a text-mode copy does to the "\r\n"
  unixLineEnds.erase(unixLineEnds.begin() + 4);
  EXPECT_EQ(open(unixLineEnds), kNotScanFile);
  for (const std::uint32_t version : {0u, 2u, 0xffffffffu}) {
    EXPECT_EQ(openWith(kVersionOffset, version), kUnsupportedVersion) << version;
  }
  // Another version's header may be shorter; it is still recognised.
  Bytes newer(good.begin(), good.begin() + 12);
  put<std::uint32_t>(newer, kVersionOffset, 2);
  EXPECT_EQ(open(newer), kUnsupportedVersion);
}

TEST_F(ScanDamageTest, RefusesCountsAndSizesTheFileCannotHold) {
  for (const std::int32_t count : {-1, 4, -kMax - 1, kMax}) {
    EXPECT_EQ(openWith(kFrameCountOffset, count), kDamaged) << count;
  }
  const std::size_t sizes = frameOffset(good, 0);
  // 2^30 x 2^30 pixels are 2^64 bytes: zero when multiplied out in 64 bits.
  const std::pair<std::int32_t, std::int32_t> bad[] = {
      {kMax, kMax}, {1 << 30, 1 << 30}, {-1, 0}, {0, -1}, {-1, 2}, {-kMax - 1, -kMax - 1}, {3, 3}};
  for (const auto& [x, y] : bad) {
    EXPECT_EQ(openWith(sizes, x, sizes + 4, y), kDamaged) << x << " x " << y;
  }
  // The last record ends the file; one more pixel would lie past its end.
  EXPECT_EQ(openWith<std::int32_t>(frameOffset(good, 2) + 4, 2), kDamaged);
}

TEST_F(ScanDamageTest, RefusesFrameTablesPointingOutsideTheRecords) {
  const std::uint64_t size = good.size(), frame0 = frameOffset(good, 0),
                      frame1 = frameOffset(good, 1);
  // Into the header or table, past the end, overlapping frame 0's record, before it.
  const std::uint64_t bad[] = {
      0, 8, kHeaderSize + 16, size, size - kFrameHeaderSize + 1, ~0ull, frame1 - 1, frame0};
  for (const std::uint64_t offset : bad) {
    EXPECT_EQ(openWith(kHeaderSize + 8, offset), kDamaged) << offset;
  }
  EXPECT_EQ(openWith(kHeaderSize + 16, frame1), kDamaged);  // frame 2 overlapping frame 1
}

}  // namespace
}  // namespace quarn::scan::test
