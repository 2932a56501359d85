// A host in a memory cgroup below a read's output gets false and untouched matrices, and
// lives; without the plug-in's check the kernel kills it when the pages are touched.
#include <gtest/gtest.h>

#include "MemoryCgroup.h"
#include "ScratchDir.h"
#include "TestScans.h"

TEST(MemoryCgroupTest, AHostBelowTheOutputGetsFalseAndLives) {
  const MemoryCgroup cgroup(48 << 20);
  if (!cgroup.problem().empty()) GTEST_SKIP() << cgroup.problem();
  const ScratchDir scratch;
  const quarn::test::PoseArray identity = quarn::test::rotationAboutZ(0);
  quarn::scan::ScanFrame frame{2000, 1250, identity, {}};
  frame.pixels.resize(2000 * 1250);  // no point, no colour: still 67.5 MB of output
  quarn::scan::writeScan(scratch.file("big.qscan"), identity, {frame});
  const auto [status, output] =
      cgroup.run({MEMORY_HOST_PATH, QUARN_PLUGIN_PATH, scratch.file("big.qscan")});
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("read 0, matrices untouched"), std::string::npos) << output;
}
