// Two imports at once on two threads, each with its own SDK object, give what each gives on
// its own: the plug-in and the reference SDK keep no shared mutable state. Built and run
// under ThreadSanitizer by scripts/test-sanitizers, which reports any race between them.

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "PluginLibrary.h"
#include "ReferenceImport.h"
#include "ScratchDir.h"
#include "TestScans.h"

namespace {

using namespace quarn::test;

// Frames of different sizes and poses, so that a buffer or pose shared between the imports
// would show in their results.
std::vector<ScanFrame> framesOf(int count, int size, double angle) {
  std::vector<ScanFrame> frames;
  for (int f = 0; f < count; ++f)
    frames.push_back(cyclingFrame(size + f, size - f, rotationAboutZ(angle, f, 0, -f), angle));
  return frames;
}

TEST(ConcurrentImport, TwoImportsAtOnceEachGiveTheirOwnExactResult) {
  ScratchDir dir;
  const std::string paths[] = {dir.file("first.qscan"), dir.file("second.qscan")};
  const std::vector<ScanFrame> frames[] = {framesOf(5, 24, 0.5), framesOf(3, 40, -1.25)};
  const PoseArray poses[] = {rotationAboutZ(0.5, 1), rotationAboutZ(-1.25, 0, 2)};
  for (int i = 0; i < 2; ++i) writeScan(paths[i], poses[i], frames[i]);
  PluginLibrary plugin(QUARN_PLUGIN_PATH);
  CapturedStdout quiet(dir.file("stdout.txt"));
  for (const auto& [a, b] : {std::pair{0, 1}, std::pair{0, 0}}) {
    std::atomic<int> waiting{2};
    PluginScan scans[2];
    bool results[2] = {};
    const auto run = [&](int slot, int scan) {
      waiting.fetch_sub(1);
      while (waiting.load() > 0) std::this_thread::yield();
      results[slot] = plugin.read(paths[scan], scans[slot]);
    };
    std::thread one(run, 0, a), two(run, 1, b);
    one.join();
    two.join();
    for (const auto& [slot, scan] : {std::pair{0, a}, std::pair{1, b}}) {
      EXPECT_TRUE(results[slot]);
      EXPECT_EQ(differenceFromReference(poses[scan], frames[scan], scans[slot].points,
                                        scans[slot].colours, scans[slot].transform),
                "")
          << a << " and " << b;
    }
  }
}

}  // namespace
