// ScanWriter failures: refused arguments, and no file left behind unless finished.

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "ScanReader.h"
#include "ScanStatus.h"
#include "ScanTestSupport.h"

namespace quarn::scan::test {
namespace {

TEST(ScanWriter, LeavesNoFileUnlessFinished) {
  ScratchDir dir;
  const std::string path = dir.file("scan.qscan");
  const ScanPixel one{1, 2, 3, kHasPoint, {}};
  {
    ScanWriter writer(path, 2, poseFrom(0));
    writer.addFrame(1, 1, poseFrom(1), &one);
    EXPECT_THROW(writer.finish(), std::runtime_error);  // one frame short
    EXPECT_THROW(writer.addFrame(-1, 1, poseFrom(1), &one), std::invalid_argument);
    EXPECT_THROW(writer.addFrame(1, -1, poseFrom(1), &one), std::invalid_argument);
    EXPECT_THROW(writer.addFrame(1, 1, poseFrom(1), nullptr), std::invalid_argument);
  }
  EXPECT_THROW(ScanWriter(path, -1, poseFrom(0)), std::invalid_argument);
  std::vector<ScanFrame> frames = sampleFrames();
  frames[2].pixels.push_back(one);
  EXPECT_THROW(writeScan(path, poseFrom(0), frames), std::invalid_argument);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  const std::string unwritable = dir.file("no-such-dir/scan.qscan");
  try {
    ScanWriter writer(unwritable, 0, poseFrom(0));
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(unwritable), std::string::npos) << e.what();
  }
}

TEST(ScanWriter, FinishesAfterTheMissingFramesAndReplacesTheTarget) {
  ScratchDir dir;
  const std::string path = dir.file("scan.qscan");
  writeBytes(path, Bytes(1000, 'x'));
  ScanWriter writer(path, 2, poseFrom(0));
  writer.addFrame(0, 0, poseFrom(1), nullptr);
  EXPECT_THROW(writer.finish(), std::runtime_error);
  writer.addFrame(0, 5, poseFrom(2), nullptr);
  EXPECT_THROW(writer.addFrame(0, 0, poseFrom(3), nullptr), std::runtime_error);  // a third
  writer.finish();
  EXPECT_THROW(writer.addFrame(0, 0, poseFrom(3), nullptr), std::runtime_error);

  ScanReader reader;
  ASSERT_EQ(reader.open(path), kOk);
  ASSERT_EQ(reader.frameCount(), 2);
  EXPECT_EQ(reader.frame(1).sizeY, 5);
  EXPECT_EQ(reader.frame(1).pose, poseFrom(2));
  EXPECT_EQ(std::filesystem::file_size(path), kHeaderSize + 2 * (8 + kFrameHeaderSize));
}

}  // namespace
}  // namespace quarn::scan::test
