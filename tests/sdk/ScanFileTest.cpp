// Scan files: the documented bytes; the calls DotProductAPI refuses; damaged files refused
// with their exact status, from a file and from memory alike; the byte sources' bounds; and
// the writer's refusals and failures.

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "DotProductAPI.h"
#include "ScanReader.h"
#include "ScanStatus.h"
#include "ScratchDir.h"
#include "TestScans.h"

namespace quarn::test {
namespace {

using namespace quarn::scan;

// The bytes the format document lays out, built without the writer.
TEST(ScanLayout, WriterProducesTheDocumentedBytes) {
  ScratchDir dir;
  PoseArray poses[3];
  Bytes expected = {'Q', 'S', 'C', 'N', '\r', '\n', 0x1a, '\n', 1, 0, 0, 0, 2, 0, 0, 0};
  const auto appendPose = [&](int index) {
    for (std::size_t i = 0; i < poses[index].size(); ++i) poses[index][i] = index + 0.5 * i;
    const auto* p = reinterpret_cast<const unsigned char*>(poses[index].data());
    expected.insert(expected.end(), p, p + sizeof poses[index]);
  };
  appendPose(0);
  // clang-format off
  expected.insert(expected.end(), {168, 0, 0, 0, 0, 0, 0, 0, 88, 1, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0});
  appendPose(1);
  expected.insert(expected.end(), {0, 0, 0xc0, 0x3f, 0, 0, 0, 0x80, 0, 0, 0, 0xc0, 3, 0x11, 0x22, 0x33,
                                   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0});
  // clang-format on
  appendPose(2);
  const std::vector<ScanFrame> frames = {
      {2, 1, poses[1], {{1.5f, -0.0f, -2.0f, 3, {0x11, 0x22, 0x33}}, {}}}, {0, 3, poses[2], {}}};
  writeScan(dir.file("a.qscan"), poses[0], frames);
  EXPECT_EQ(readBytes(dir.file("a.qscan")), expected);
  // In a stream, from where it stands, which is left at the scan's end.
  std::stringstream out;
  out << "ab";
  scan::writeScan(out, poses[0], frames);
  out << 'z';
  EXPECT_EQ(out.str(), "ab" + std::string(expected.begin(), expected.end()) + "z");
}

class ScanFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeScan(path, rotationAboutZ(0),
              {cyclingFrame(2, 3, rotationAboutZ(1), 0),
               {0, 4, rotationAboutZ(2), {}},
               cyclingFrame(1, 1, rotationAboutZ(3), 0)});
    good = readBytes(path);
    ASSERT_EQ(api.open(path.c_str(), nullptr), kOk);
  }

  ScratchDir dir;
  std::string path = dir.file("scan.qscan");
  Bytes good;
  DotProductAPI api;
  float px = 7, py = 7, pz = 7;
  unsigned char c = 7;
};

TEST_F(ScanFileTest, RefusesCallsWithoutScanFrameOrPixel) {
  double pose[17];
  DotProductAPI unopened;
  EXPECT_EQ(unopened.getFrameCount() + unopened.getFrameSizeX() + unopened.getFrameSizeY(), 0);
  EXPECT_EQ(unopened.getPositionAndOrientation(pose), kNotOpen);
  EXPECT_EQ(unopened.getFramePositionAndOrientation(pose), kNotOpen);
  EXPECT_EQ(unopened.openFrame(0), kNotOpen);
  EXPECT_EQ(unopened.getCartesianAtPixel(0, 0, px, py, pz), kNotOpen);

  EXPECT_EQ(api.getPositionAndOrientation(nullptr), kBadArgument);
  EXPECT_EQ(api.getFramePositionAndOrientation(pose), kNoFrame);
  EXPECT_EQ(api.getColourAtPixel(0, 0, c, c, c), kNoFrame);
  ASSERT_EQ(api.openFrame(0), kOk);
  EXPECT_EQ(api.getFramePositionAndOrientation(nullptr), kBadArgument);
  const std::pair<int, int> outside[] = {{-1, 0}, {0, -1}, {2, 0}, {0, 3}, {INT_MIN, INT_MIN}};
  for (const bool loaded : {false, true}) {  // before and after a pixel call read the frame
    ASSERT_EQ(loaded ? api.getColourAtPixel(0, 0, c, c, c) : kOk, kOk);  // colour (0, 255, 7)
    for (const auto& [x, y] : outside) {
      EXPECT_EQ(api.getCartesianAtPixel(x, y, px, py, pz), kOutsideFrame) << x << "," << y;
      EXPECT_EQ(api.getColourAtPixel(x, y, c, c, c), kOutsideFrame) << x << "," << y;
    }
  }
  // A refused openFrame leaves no frame current.
  for (const int bad : {3, -1}) {
    ASSERT_EQ(api.openFrame(0), kOk);
    EXPECT_EQ(api.openFrame(bad), kBadArgument);
    EXPECT_EQ(api.getFrameSizeX() + api.getFrameSizeY(), 0);
    EXPECT_EQ(api.getFramePositionAndOrientation(pose), kNoFrame);
    EXPECT_EQ(api.getCartesianAtPixel(0, 1, px, py, pz), kNoFrame);
  }
  EXPECT_EQ(px + py + pz + c, 28);  // no refused call wrote anything

  // Opening replaces the scan; a failed open leaves none, and no frame current.
  ASSERT_EQ(api.openFrame(2), kOk);
  for (const std::string& bad : {dir.file("missing.qscan"), dir.path().string()}) {
    EXPECT_EQ(api.open(bad.c_str(), nullptr), kCannotOpen) << bad;
    EXPECT_EQ(api.getFrameCount() + api.getFrameSizeX(), 0);
    EXPECT_EQ(api.openFrame(0), kNotOpen);
  }
  ASSERT_EQ(api.open(path.c_str(), nullptr), kOk);
  EXPECT_EQ(api.open(nullptr, nullptr), kCannotOpen);
  EXPECT_EQ(api.getPositionAndOrientation(pose), kNotOpen);
}

// Pixels are read at a frame's first pixel call; a failed read is not retried until the
// next openFrame.
TEST_F(ScanFileTest, AFailedPixelReadHoldsUntilTheNextOpenFrame) {
  ASSERT_EQ(api.openFrame(0), kOk);
  std::filesystem::resize_file(path, frameOffset(good, 0) + kFrameHeaderSize + 5 * kPixelSize);
  EXPECT_EQ(api.getFrameSizeY(), 3);
  EXPECT_EQ(api.getCartesianAtPixel(0, 0, px, py, pz), kReadFailed);
  writeBytes(path, good);
  EXPECT_EQ(api.getColourAtPixel(0, 0, c, c, c), kReadFailed);
  ASSERT_EQ(api.openFrame(0), kOk);
  EXPECT_EQ(api.getCartesianAtPixel(0, 0, px, py, pz), kOk);
}

TEST_F(ScanFileTest, DamagedFilesAreRefusedWithTheirStatus) {
  const std::uint64_t size = good.size(), frame0 = frameOffset(good, 0),
                      frame1 = frameOffset(good, 1), frame2 = frameOffset(good, 2);
  Bytes unixLineEnds(good.begin(), good.begin() + 4);  // a text-mode copy drops the "\r"
  unixLineEnds.insert(unixLineEnds.end(), good.begin() + 5, good.end());
  std::vector<std::pair<Bytes, int>> cases = {
      {good, kOk},
      {good, kOk},
      {with<std::uint8_t>(good, 3, 'n'), kNotScanFile},
      {unixLineEnds, kNotScanFile},
      // Another version's header may be shorter: it is still recognised.
      {with<std::uint32_t>(Bytes(good.begin(), good.begin() + 12), kVersionOffset, 2),
       kUnsupportedVersion},
      {with<std::uint64_t>(good, kHeaderSize + 16, frame1), kDamaged},       // frame 2 over frame 1
      {with<std::uint64_t>(good, kHeaderSize, kHeaderSize + 16), kDamaged},  // frame 0 in the table
      {with<std::int32_t>(good, frame2 + 4, 2), kDamaged}};  // one pixel more than the file holds
  for (const std::uint32_t version : {0u, 2u, ~0u})
    cases.push_back({with(good, kVersionOffset, version), kUnsupportedVersion});
  for (const std::int32_t count : {-1, 4, INT_MIN, INT_MAX})
    cases.push_back({with(good, kFrameCountOffset, count), kDamaged});
  // 2^30 x 2^30 pixels are 2^64 bytes: zero when multiplied out in 64 bits.
  for (const std::int32_t x : {INT_MAX, 1 << 30, -1, 0, 3})
    cases.push_back({with(with(good, frame0, x), frame0 + 4, x == 0 ? -1 : x), kDamaged});
  for (const std::uint64_t offset :
       {std::uint64_t{0}, std::uint64_t{8}, kHeaderSize + 16, size, size - kFrameHeaderSize + 1,
        ~std::uint64_t{0}, frame1 - 1, frame0})
    cases.push_back({with(good, kHeaderSize + 8, offset), kDamaged});  // frame 1's record
  for (std::size_t cut = 0; cut < good.size(); ++cut)
    cases.push_back({Bytes(good.begin(), good.begin() + cut), cut < 8 ? kNotScanFile : kDamaged});

  ScanReader reader;  // each open replaces the scan before
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [bytes, status] = cases[i];
    writeBytes(path, bytes);
    DotProductAPI api;
    EXPECT_EQ(api.open(path.c_str(), nullptr), status) << "case " << i;
    EXPECT_EQ(reader.open(bytes.data(), bytes.size()), status) << "case " << i;
    EXPECT_EQ(reader.frameCount(), status == kOk ? 3 : 0) << "case " << i;
    EXPECT_EQ(api.getFrameCount() > 0, status == kOk) << "case " << i;
  }
}

TEST(ScanStatus, ByteSourcesReadOnlyWhatTheyHold) {
  ScratchDir dir;
  const Bytes bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  writeBytes(dir.file("ten"), bytes);
  const auto file = openFileSource(dir.file("ten"));
  const auto memory = memorySource(bytes.data(), bytes.size());
  ASSERT_TRUE(file);
  for (ByteSource* source : {file.get(), memory.get()}) {
    unsigned char out[4] = {};
    EXPECT_EQ(source->size(), 10u);
    EXPECT_TRUE(source->read(7, out, 3) && source->read(0, out + 3, 1));
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{8, 9, 10, 1}));
    EXPECT_TRUE(source->read(10, out, 0));
    EXPECT_FALSE(source->read(8, out, 3));
    EXPECT_FALSE(source->read(11, out, 0));
    EXPECT_FALSE(source->read(~0ull, out, 2));
  }
  EXPECT_EQ(openFileSource(dir.file("missing")), nullptr);
  // A reader that is not open has no frame to read.
  std::vector<ScanPixel> pixels;
  EXPECT_FALSE(ScanReader().readPixels(0, pixels));
}

// A seekable stream buffer of `size` bytes that cannot grow: a disk that fills up.
class FixedBuffer : public std::streambuf {
 public:
  explicit FixedBuffer(std::size_t size) : bytes_(size) {
    setp(bytes_.data(), bytes_.data() + size);
  }

 protected:
  pos_type seekoff(off_type offset, std::ios_base::seekdir way, std::ios_base::openmode) override {
    const off_type at = offset + (way == std::ios_base::cur ? pptr() - pbase() : 0);
    if (way == std::ios_base::end || at < 0 || at > epptr() - pbase()) return off_type(-1);
    setp(pbase(), epptr());
    pbump(static_cast<int>(at));
    return at;
  }
  pos_type seekpos(pos_type at, std::ios_base::openmode which) override {
    return seekoff(off_type(at), std::ios_base::beg, which);
  }

 private:
  std::vector<char> bytes_;
};

// Refused before anything is written, or after what was written so far; failures end the
// writer.
TEST(ScanWriter, RefusalsAndFailures) {
  const ScanPixel one{1, 2, 3, kHasPoint, {}};
  const PoseArray pose = rotationAboutZ(0);
  const auto frames = [&](ScanFrame last) {
    return std::vector<ScanFrame>{cyclingFrame(2, 2, pose, 0), last};
  };
  std::stringstream out;
  const std::size_t header = kHeaderSize + kTableEntrySize;
  const std::size_t firstFrame =
      kHeaderSize + 2 * kTableEntrySize + kFrameHeaderSize + 4 * kPixelSize;
  // clang-format off
  const std::tuple<const char*, std::function<void()>, std::size_t> invalid[] = {
      {"negative frame count", [&] { ScanWriter(out, -1, pose); }, 0},
      {"pixel count", [&] { scan::writeScan(out, pose, frames({1, 2, pose, {one}})); }, 0},
      {"negative size in memory", [&] { scan::writeScan(out, pose, frames({-1, 0, pose, {}})); }, firstFrame},
      {"negative width", [&] { ScanWriter(out, 1, pose).addFrame(-1, 1, pose, &one); }, header},
      {"negative height", [&] { ScanWriter(out, 1, pose).addFrame(1, -1, pose, &one); }, header},
      {"no pixels", [&] { ScanWriter(out, 1, pose).addFrame(1, 1, pose, nullptr); }, header}};
  // clang-format on
  for (const auto& [name, write, written] : invalid) {
    SCOPED_TRACE(name);
    out.str("");
    EXPECT_THROW(write(), std::invalid_argument);
    EXPECT_EQ(out.str().size(), written);
  }

  const std::string failed = "the scan could not be written";
  const std::string ended = "the scan is no longer being written";
  const std::vector<ScanPixel> pixels(4096);
  struct Unseekable : std::streambuf {
  } unseekable;
  FixedBuffer small(4096);
  std::ostream toPipe(&unseekable), toFull(&small);
  const auto addAll = [&](ScanWriter& w) {
    for (int f = 0; f < 2; ++f) w.addFrame(0, 0, pose, nullptr);
  };
  // clang-format off
  const std::tuple<const char*, std::ostream*, int, std::function<void(ScanWriter&)>, std::string> failing[] = {
      {"a frame short", &out, 2, [&](ScanWriter& w) { w.addFrame(0, 0, pose, nullptr); w.finish(); }, "1 of 2 frames written"},
      {"a frame too many", &out, 2, [&](ScanWriter& w) { addAll(w); w.addFrame(0, 0, pose, nullptr); }, "more frames than the 2 announced"},
      {"finished", &out, 2, [&](ScanWriter& w) { addAll(w); w.finish(); w.finish(); }, ended},
      {"unseekable", &toPipe, 2, nullptr, failed + ": its stream cannot seek"},
      {"full at the header", &toFull, 4096, nullptr, failed},
      {"full at a frame", &toFull, 2, [&](ScanWriter& w) { w.addFrame(1, 4096, pose, pixels.data()); }, failed},
      {"ended by a failure", &toFull, 2, [&](ScanWriter& w) {
         EXPECT_THROW(w.addFrame(1, 4096, pose, pixels.data()), std::runtime_error);
         addAll(w); }, ended}};
  // clang-format on
  for (const auto& [name, stream, frameCount, write, message] : failing) {
    SCOPED_TRACE(name);
    stream->clear();
    stream->seekp(0);
    std::string error = "no exception";
    try {
      ScanWriter writer(*stream, frameCount, pose);
      if (write) write(writer);
    } catch (const std::runtime_error& e) {
      error = e.what();
    }
    EXPECT_EQ(error, message);
  }
}

}  // namespace
}  // namespace quarn::test
