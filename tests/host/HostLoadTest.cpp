// The built plug-in loaded at run time as a host loads it, reading scan files written with
// the scan writer through the reference SDK library, compared with TooN's results to the bit.
// A compiler that drops the rounding to single precision after a transform (GCC's SLP
// vectorizer does at -O2) makes the comparison fail; frames of 3 x 2 and 2 x 3 pixels make a
// swap of the x and y loops fail.

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <limits>
#include <thread>

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "FrameReader.h"
#include "HostMatrices.h"
#include "OutputFile.h"
#include "PluginLibrary.h"
#include "ReferenceImport.h"
#include "ScanInputCheck.h"
#include "ScratchDir.h"
#include "TestScans.h"

namespace {

using namespace quarn::test;

class HostLoadTest : public ::testing::Test {
 protected:
  // Writes the scan, reads it through the loaded plug-in and compares the result with the
  // reference; returns what the plug-in printed.
  std::string readExactly(const PoseArray& globalPose, const std::vector<ScanFrame>& frames) {
    writeScan(scratch.file("scan.qscan"), globalPose, frames);
    CapturedStdout capture(scratch.file("stdout.txt"));
    EXPECT_TRUE(host.read(plugin.readDotProduct, scratch.file("scan.qscan").c_str()));
    const std::string printed = capture.text();
    EXPECT_EQ(
        differenceFromReference(globalPose, frames, host.points, host.colours, host.transform), "");
    return printed;
  }

  // Checks every input with the plug-in's lines captured, then reports the first broken
  // promise. Returns how many of the inputs imported.
  int check(const std::vector<std::pair<std::string, Bytes>>& inputs) {
    int imported = 0;
    std::string broken;
    CapturedStdout quiet(scratch.file("stdout.txt"));
    for (const auto& [name, bytes] : inputs) {
      const quarn::hostile::InputOutcome outcome = quarn::hostile::checkScanInput(
          bytes.data(), bytes.size(), scratch.file("input.qscan"), plugin.readDotProduct);
      imported += outcome.imported;
      if (broken.empty() && !outcome.broken.empty()) broken = name + ": " + outcome.broken;
    }
    quiet.text();
    EXPECT_EQ(broken, "");
    return imported;
  }

  PluginLibrary plugin{QUARN_PLUGIN_PATH};
  ScratchDir scratch;
  HostMatrices host;
};

TEST_F(HostLoadTest, ReadsAWrittenScanExactly) {
  const std::vector<ScanFrame> frames = {cyclingFrame(3, 2, rotationAboutZ(1.1, 1, 2, 3), 0.5f),
                                         cyclingFrame(0, 4, rotationAboutZ(0), 0),
                                         cyclingFrame(2, 3, rotationAboutZ(-2.5, 0.25, 0, -1), -4)};
  EXPECT_EQ(readExactly(rotationAboutZ(0.3, 0.1, -2.0, 0.7), frames),
            "3 frames found.\nGlobal scene transform T_g_r =\n0.955336 -0.29552 0 0.1\n"
            "0.29552 0.955336 0 -2\n0 0 1 0.7\n\n");
  // Identity poses give the SDK's floats back, and negative zeros come out positive (the
  // reference's bits), also where the translations are negative zeros.
  PoseArray negativeZero = rotationAboutZ(0, -0.0, -0.0, -0.0);
  ScanFrame zeros = cyclingFrame(1, 1, negativeZero, 0);
  zeros.pixels[0] = {-0.0f, -0.0f, -0.0f, 3, {1, 2, 3}};
  readExactly(negativeZero, {zeros});
  // The result reads the same taken as a bool or as an int.
  using AsInt =
      int (*)(const char*, int, Eigen::MatrixXd&, ColourMatrix&, void*, void*, Eigen::MatrixXd&);
  const auto readAsInt = reinterpret_cast<AsInt>(plugin.symbol("readDotProduct"));
  CapturedStdout quiet(scratch.file("stdout.txt"));
  for (const int index : {0, 1})
    EXPECT_EQ(readAsInt(scratch.file("scan.qscan").c_str(), index, host.points, host.colours,
                        nullptr, nullptr, host.transform),
              1 - index);
}

// Outputs of several megabytes have their pages mapped in beside the pixel loop: the result
// must not change.
TEST_F(HostLoadTest, LargeScanIsExactToo) {
  std::vector<ScanFrame> frames;
  for (int f = 0; f < 3; ++f)
    frames.push_back(cyclingFrame(300, 300, rotationAboutZ(0.4 * f, f, -f, 0.5), 0.25f * f));
  readExactly(rotationAboutZ(-0.7, 3.0, 0.5, -1.25), frames);
}

// Two imports at once on two threads, each with its own SDK object, give each its own exact
// result: the plug-in and the reference SDK keep no shared mutable state. The sanitizer stage
// also runs this under ThreadSanitizer, which reports any race between them.
TEST_F(HostLoadTest, TwoImportsAtOnceEachGiveTheirOwnResult) {
  std::vector<ScanFrame> frames[2];
  const PoseArray poses[] = {rotationAboutZ(0.5, 1), rotationAboutZ(-1.25, 0, 2)};
  for (int f = 0; f < 5; ++f) {  // of other sizes and poses, so that sharing would show
    frames[0].push_back(cyclingFrame(24 + f, 24 - f, rotationAboutZ(0.5, f, 0, -f), f));
    frames[1].push_back(cyclingFrame(40 - f, 40 + f, rotationAboutZ(-1.25, -f, f), -f));
  }
  const std::string paths[] = {scratch.file("first.qscan"), scratch.file("second.qscan")};
  for (int i = 0; i < 2; ++i) writeScan(paths[i], poses[i], frames[i]);
  CapturedStdout quiet(scratch.file("stdout.txt"));
  for (const int other : {1, 0}) {  // another scan, then the same one
    std::atomic<int> waiting{2};
    const auto run = [&](int scan) {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      PluginScan read;
      EXPECT_TRUE(plugin.read(paths[scan], read));
      EXPECT_EQ(differenceFromReference(poses[scan], frames[scan], read.points, read.colours,
                                        read.transform),
                "")
          << scan;
    };
    std::thread one(run, 0), two(run, other);
    one.join();
    two.join();
  }
}

// Hostile input: the writer's seed scans, every truncation and bit flip of one, and the
// fuzzer's regressions, each a clean refusal or an exact import by every reader (checkScanInput
// holds them to their promises).
TEST_F(HostLoadTest, SeedScansImportAndFuzzRegressionsKeepEveryPromise) {
  std::vector<std::pair<std::string, Bytes>> inputs;
  for (const std::string& path : quarn::hostile::writeSeedScans(scratch.path().string()))
    inputs.emplace_back(path, readBytes(path));
  EXPECT_EQ(check(inputs), 4);
  const Bytes good = inputs[2].second;  // four frames: 2 x 3, 0 x 4, 0 x 0 and 3 x 2
  for (std::size_t bit = 0; bit < 8 * good.size(); ++bit) {
    inputs.emplace_back("cut to " + std::to_string(bit / 8),
                        Bytes(good.begin(), good.begin() + bit / 8));
    inputs.emplace_back("bit " + std::to_string(bit), good);
    inputs.back().second[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
  }
  for (const auto& entry : std::filesystem::directory_iterator(QUARN_FUZZ_REGRESSIONS)) {
    if (entry.path().filename().string()[0] != '.')  // a dot file keeps the folder in git
      inputs.emplace_back(entry.path().string(), readBytes(entry.path().string()));
  }
  check(inputs);
}

// Frame by frame (checkScanInput holds the frames to the plug-in's columns): frames large
// enough to grow the frame's storage, empty, without a valid pixel, with a NaN translation, of
// other sizes. Each frame's pose matrix maps its points there, up to the two roundings; what
// cannot be read is refused with its reason.
TEST_F(HostLoadTest, FrameReaderGivesThePluginsColumnsAndEachFramesPose) {
  using quarn::FrameReader;
  const auto valid = quarn::scan::kHasPoint | quarn::scan::kHasColour;
  ScanFrame noValid = cyclingFrame(4, 3, rotationAboutZ(2, 1), 0);
  for (ScanPixel& pixel : noValid.pixels) pixel.flags &= quarn::scan::kHasPoint;
  PoseArray nanTranslation = rotationAboutZ(0.2, 1, 1, 1), reflection = rotationAboutZ(0.5);
  nanTranslation[13] = -std::numeric_limits<double>::quiet_NaN();
  reflection[10] = -1;
  const std::vector<ScanFrame> frames = {
      cyclingFrame(200, 150, rotationAboutZ(1.1, 1, 2, 3), 0.5f),
      cyclingFrame(0, 4, rotationAboutZ(0), 0), noValid, cyclingFrame(3, 5, nanTranslation, -4),
      cyclingFrame(220, 180, rotationAboutZ(-2.5, 0.25, 0, -1), 2)};
  const PoseArray globalPose = rotationAboutZ(0.3, 0.1, -2.0, 0.7);
  writeScan(scratch.file("frames.qscan"), globalPose, frames);
  EXPECT_EQ(check({{"frames", readBytes(scratch.file("frames.qscan"))}}), 1);

  FrameReader reader(scratch.file("frames.qscan"));
  quarn::Frame frame;
  for (const int f : {0, 4}) {
    reader.read(f, frame);
    const Eigen::Matrix4d pose = reader.framePose(f);
    EXPECT_EQ(pose.row(3), Eigen::RowVector4d(0, 0, 0, 1));
    std::size_t i = 0;
    for (const ScanPixel& pixel : frames[f].pixels) {
      if ((pixel.flags & valid) != valid) continue;
      const Eigen::Vector4d mapped = pose * Eigen::Vector4d(pixel.x, pixel.y, pixel.z, 1);
      for (int row = 0; row < 3; ++row, ++i)
        ASSERT_NEAR(mapped[row], frame.points[i], 1e-6 * (1 + std::abs(mapped[row]))) << f;
    }
  }

  writeScan(scratch.file("bad-frame.qscan"), globalPose,
            {frames[1], cyclingFrame(2, 2, reflection, 0)});
  writeScan(scratch.file("bad-scan.qscan"), reflection, {frames[1]});
  FrameReader refusing(scratch.file("bad-frame.qscan"));
  const auto refusal = [](const std::function<void()>& attempt) -> std::string {
    try {
      attempt();
    } catch (const quarn::ScanError& e) {
      return e.what();
    }
    return "read";
  };
  EXPECT_EQ(refusal([&] { refusing.read(0, frame); }), "read");
  EXPECT_EQ(refusal([&] { refusing.read(1, frame); }), "the pose of frame 1 is not a rotation");
  EXPECT_EQ(refusal([&] { refusing.framePose(1); }), "the pose of frame 1 is not a rotation");
  EXPECT_EQ(refusal([&] { refusing.read(2, frame); }), "no frame 2: the scan has 2");
  EXPECT_EQ(refusal([&] { refusing.read(-1, frame); }), "no frame -1: the scan has 2");
  EXPECT_EQ(refusal([&] { FrameReader{scratch.file("bad-scan.qscan")}; }),
            "the scan's pose is not a rotation");
  EXPECT_EQ(refusal([&] { FrameReader{scratch.file("none.qscan")}; }), "no such file");
}

// Each frame claims 2^31 - 1 columns of no pixels. Walking those columns once took a second a
// frame: this file kept a host busy for half an hour. Bounded here, far above the few
// milliseconds it takes.
TEST_F(HostLoadTest, FramesOfEmptyColumnsAreNoWork) {
  const std::string path = scratch.file("wide.qscan");
  quarn::output::OutputFile file(path, true);
  quarn::scan::ScanWriter writer(file.stream(), 2000, rotationAboutZ(0));
  for (int f = 0; f < 2000; ++f) writer.addFrame(INT_MAX, 0, rotationAboutZ(0), nullptr);
  writer.finish();
  file.commit();
  auto read = std::async(std::launch::async, [&] { return check({{"wide", readBytes(path)}}); });
  if (read.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    std::fprintf(stderr, "FAILED: a scan of empty columns took more than 30 s\n");
    std::_Exit(1);
  }
  EXPECT_EQ(read.get(), 1);
}

}  // namespace
