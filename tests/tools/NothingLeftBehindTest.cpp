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

#include "OutputFile.h"
#include "SampleScan.h"
#include "ScratchDir.h"
#include "TestScans.h"

namespace {

namespace fs = std::filesystem;
using quarn::test::readText;

// Runs `command` through sh in a new child of this process's memory cgroup (v1, or v2 with the
// memory controller) limited to `limit` bytes: its exit status, or -2 where none can be made.
int runInMemoryCgroup(std::uint64_t limit, const std::string& command) {
  std::ifstream own("/proc/self/cgroup");
  for (std::string line; std::getline(own, line);) {
    const bool v1 = line.find(":memory:/") != std::string::npos;
    const fs::path group = fs::path(v1 ? "/sys/fs/cgroup/memory" : "/sys/fs/cgroup") /
                           line.substr(line.find(":/") + 2) / ("quarn" + std::to_string(getpid()));
    std::error_code error;
    if ((!v1 && line.rfind("0::/", 0) != 0) || !fs::create_directory(group, error)) continue;
    int status = -2;
    if (std::ofstream(group / (v1 ? "memory.limit_in_bytes" : "memory.max"))
        << limit << std::flush) {
      // The shell moves itself into the group (0: the writer), then becomes the command.
      status = std::system(
          ("echo 0 > " + (group / "cgroup.procs").string() + " && exec " + command).c_str());
    }
    fs::remove(group, error);
    if (status != -2) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return -2;
}

TEST(NothingLeftBehind, ImportSaysWhatTheScanNeedsBeyondAMemoryLimit) {
  ScratchDir dir;
  const std::string scan = dir.file("big.scan"), err = dir.file("err.txt");
  // 1,228,800 pixels: 33,177,600 bytes of output, above the cgroup's 24 MiB.
  quarn::tool::writeSampleScan(scan, {20, 256, 240, 1});
  const int exitCode =
      runInMemoryCgroup(24 << 20, "\"" QUARN_TOOL_PATH "\" import '" + scan + "' -o '" +
                                      dir.file("big.ply") + "' > /dev/null 2> '" + err + "'");
  if (exitCode == -2) GTEST_SKIP() << "no memory cgroup controller to limit a process with";
  const std::string said = readText(err);
  const std::string expected = "quarn: error: cannot import " + scan + ": needs 33 MB of memory, ";
  EXPECT_EQ(exitCode, 1) << said;
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"big.scan", "err.txt"}));
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
  file.commit();
  EXPECT_EQ(dir.files(), std::vector<std::string>{"out"});
  EXPECT_EQ(readText(out), "newer");
}

}  // namespace
