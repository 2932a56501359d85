// On Linux quarn leaves no file behind: in a memory cgroup below its scan's output, import says
// so before the plug-in takes the memory and exits 1; an output killed mid-write is never named.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "MemoryCgroup.h"
#include "OutputFile.h"
#include "SampleScan.h"
#include "ScratchDir.h"
#include "TestScans.h"

namespace {

namespace fs = std::filesystem;
using quarn::test::readText;

TEST(NothingLeftBehind, ImportSaysWhatTheScanNeedsBeyondAMemoryLimit) {
  ScratchDir dir;
  const std::string scan = dir.file("big.scan");
  // 1,228,800 pixels: 33,177,600 bytes of output, above the cgroup's 24 MiB.
  quarn::tool::writeSampleScan(scan, {20, 256, 240, 1});
  const MemoryCgroup cgroup(24 << 20);
  if (!cgroup.problem().empty()) GTEST_SKIP() << cgroup.problem();
  const auto [exitCode, said] =
      cgroup.run({QUARN_TOOL_PATH, "import", scan, "-o", dir.file("big.ply")});
  const std::string expected = "quarn: error: cannot import " + scan + ": needs 33 MB of memory, ";
  EXPECT_EQ(exitCode, 1) << said;
  EXPECT_EQ(dir.files(), std::vector<std::string>{"big.scan"});
  ASSERT_EQ(said.rfind(expected, 0), 0u) << said;
  EXPECT_LE(std::stoul(said.substr(expected.size())), 25u) << said;  // within the limit
  EXPECT_EQ(said.substr(said.find(" MB available")), " MB available\n") << said;
}

TEST(NothingLeftBehind, OutputIsNamedOnlyOnceCompleteEvenWhenKilled) {
  ScratchDir dir;
  const int probe = open(dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "the file system of " << dir.path() << " has no O_TMPFILE";
  close(probe);
  const std::string out = dir.file("out");
  std::ofstream(out) << "older";
  if (fork() == 0) {  // a run killed mid-write
    quarn::scan::OutputFile file(out);
    file.stream() << "newer" << std::flush;
    raise(SIGKILL);
  }
  wait(nullptr);
  quarn::scan::OutputFile file(out);
  file.stream() << "newer" << std::flush;
  EXPECT_EQ(dir.files(), std::vector<std::string>{"out"});  // killed, and being written
  EXPECT_EQ(readText(out), "older");
  std::ofstream(out + ".part") << "stale";  // left by a run killed as it renamed
  file.commit();
  EXPECT_EQ(dir.files(), std::vector<std::string>{"out"});
  EXPECT_EQ(readText(out), "newer");
}

}  // namespace
