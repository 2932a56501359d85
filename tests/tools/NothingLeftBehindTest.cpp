// On Linux quarn leaves no file behind: in a memory cgroup below its scan's output, import says
// so before the plug-in takes the memory and exits 1; an output killed mid-write is never named.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "OutputFile.h"
#include "SampleScan.h"
#include "ScratchDir.h"
#include "TestScans.h"

namespace {

using quarn::test::readText;

// A memory cgroup of the test's own (as root), created with a limit and removed: v1 under
// /sys/fs/cgroup/memory, else v2 when memory is in its subtree_control. problem() says why
// there is none.
class MemoryCgroup {
 public:
  explicit MemoryCgroup(unsigned long long limitBytes) {
    const bool v1 = access("/sys/fs/cgroup/memory/memory.limit_in_bytes", F_OK) == 0;
    std::string v2Controllers;
    std::getline(std::ifstream("/sys/fs/cgroup/cgroup.subtree_control"), v2Controllers);
    dir_ = std::string(v1 ? "/sys/fs/cgroup/memory" : "/sys/fs/cgroup") + "/quarn-test-" +
           std::to_string(getpid());
    if (!v1 && v2Controllers.find("memory") == std::string::npos)
      problem_ = "no cgroup memory controller (v1, or v2's subtree_control) on this machine";
    else if (mkdir(dir_.c_str(), 0755) != 0)
      problem_ = "no permission to create the memory cgroup " + dir_;
    else if (!(std::ofstream(dir_ + (v1 ? "/memory.limit_in_bytes" : "/memory.max")) << limitBytes))
      problem_ = "no permission to limit the memory cgroup " + dir_;
  }
  ~MemoryCgroup() { rmdir(dir_.c_str()); }
  const std::string& problem() const { return problem_; }  // empty when usable

  // Runs argv (argv[0] a path, no argument holding a ') in the cgroup and waits for it:
  // its exit code, or 128 + the signal that ended it (137: killed), and its stdout and stderr.
  std::pair<int, std::string> run(const std::vector<std::string>& argv) const {
    std::string command = "exec 2>&1; echo 0 > '" + dir_ + "/cgroup.procs' && exec";
    for (const std::string& arg : argv) command += " '" + arg + "'";
    std::pair<int, std::string> result{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t got; pipe && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      result.second.append(buffer, got);
    const int status = pipe ? pclose(pipe) : -1;
    if (status != -1)
      result.first = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
  }

 private:
  std::string dir_, problem_;
};

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
