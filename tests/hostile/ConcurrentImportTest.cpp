// Two imports at once on two threads, each with its own SDK object, give what each gives on
// its own: the plug-in and the reference SDK keep no shared mutable state. Built and run
// under ThreadSanitizer by scripts/test-sanitizers, which reports any race between them.

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "PluginLibrary.h"
#include "ScanTestSupport.h"
#include "ScanWriter.h"

namespace {

using quarn::scan::PoseArray;
using quarn::scan::ScanFrame;
using quarn::scan::ScanPixel;

struct Import {
  bool result = false;
  Eigen::MatrixXd points;
  ColourMatrix colours;
  Eigen::MatrixXd transform;
};

bool sameImport(const Import& a, const Import& b) {
  return a.result == b.result && a.points.rows() == b.points.rows() &&
         a.points.cols() == b.points.cols() && a.colours == b.colours &&
         a.transform == b.transform &&
         std::memcmp(a.points.data(), b.points.data(), sizeof(double) * a.points.size()) == 0;
}

// Frames of different sizes and poses, so that a buffer or pose shared between the imports
// would show in their results.
void writeScan(const std::string& path, int frames, int size, double angle) {
  PoseArray scanPose{};
  scanPose[0] = scanPose[5] = std::cos(angle);
  scanPose[1] = std::sin(angle);
  scanPose[4] = -std::sin(angle);
  scanPose[10] = scanPose[15] = 1;
  scanPose[12] = angle;
  std::vector<ScanFrame> scan;
  for (int f = 0; f < frames; ++f) {
    ScanFrame frame{size + f, size - f, scanPose, {}};
    frame.pose[14] = f;
    for (int i = 0; i < frame.sizeX * frame.sizeY; ++i) {
      const float v = static_cast<float>(i) / 7 + static_cast<float>(angle);
      const auto c = static_cast<std::uint8_t>(i + f);
      frame.pixels.push_back({v, -v, v * v, static_cast<std::uint8_t>(i % 4), {c, c, c}});
    }
    scan.push_back(frame);
  }
  quarn::scan::writeScan(path, scanPose, scan);
}

class ConcurrentImportTest : public ::testing::Test {
 protected:
  Import import(const std::string& path) {
    Import result;
    result.result = plugin_.readDotProduct(path.c_str(), 0, result.points, result.colours, nullptr,
                                           nullptr, result.transform);
    return result;
  }

  // Imports `first` and `second` on two threads released together.
  std::pair<Import, Import> importTogether(const std::string& first, const std::string& second) {
    std::atomic<int> waiting{2};
    Import a, b;
    const auto run = [&](const std::string& path, Import& out) {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      out = import(path);
    };
    std::thread one(run, std::cref(first), std::ref(a));
    std::thread two(run, std::cref(second), std::ref(b));
    one.join();
    two.join();
    return {a, b};
  }

  ScratchDir dir_;
  PluginLibrary plugin_{QUARN_PLUGIN_PATH};
};

TEST_F(ConcurrentImportTest, TwoImportsAtOnceEqualEachAlone) {
  const std::string first = dir_.file("first.qscan"), second = dir_.file("second.qscan");
  writeScan(first, 5, 24, 0.5);
  writeScan(second, 3, 40, -1.25);

  CapturedStdout quiet(dir_.file("stdout.txt"));
  const Import alone[] = {import(first), import(second)};
  const auto different = importTogether(first, second);
  const auto same = importTogether(first, first);
  quiet.text();

  ASSERT_TRUE(alone[0].result && alone[1].result);
  ASSERT_FALSE(sameImport(alone[0], alone[1]));
  EXPECT_TRUE(sameImport(different.first, alone[0]));
  EXPECT_TRUE(sameImport(different.second, alone[1]));
  EXPECT_TRUE(sameImport(same.first, alone[0]));
  EXPECT_TRUE(sameImport(same.second, alone[0]));
}

}  // namespace
