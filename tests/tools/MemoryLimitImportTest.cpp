// quarn import in a memory cgroup below its scan's output: it says so before the plug-in takes
// the memory, exits 1 and leaves no file (instead of being killed with FILE.ply.part left).

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "RunTool.h"
#include "ScanWriter.h"
#include "TestPoses.h"

namespace {

namespace fs = std::filesystem;

// A new child of this process's memory cgroup (v1, or v2 with the memory controller) limited to
// `limit` bytes; empty where none can be made.
fs::path makeMemoryCgroup(std::uint64_t limit) {
  std::ifstream own("/proc/self/cgroup");
  for (std::string line; std::getline(own, line);) {
    const bool v1 = line.find(":memory:/") != std::string::npos;
    if (!v1 && line.rfind("0::/", 0) != 0) continue;
    const fs::path group = fs::path(v1 ? "/sys/fs/cgroup/memory" : "/sys/fs/cgroup") /
                           line.substr(line.find(":/") + 2) /
                           ("quarn-test-" + std::to_string(getpid()));
    std::error_code error;
    if (!fs::create_directory(group, error)) continue;
    if (std::ofstream(group / (v1 ? "memory.limit_in_bytes" : "memory.max")) << limit << std::flush)
      return group;
    fs::remove(group, error);
  }
  return {};
}

// Runs `command` through sh as a process of `group`: its exit code, or -1.
int runInCgroup(const fs::path& group, const std::string& command) {
  const std::string procs = (group / "cgroup.procs").string();
  const pid_t pid = fork();
  if (pid == 0) {
    const int fd = open(procs.c_str(), O_WRONLY);
    if (fd < 0 || write(fd, "0", 1) != 1) _exit(126);  // 0: the writer itself
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(MemoryLimitImport, SaysWhatTheScanNeedsExitsWith1AndLeavesNoFile) {
  ScratchDir dir;
  const std::string scan = dir.file("big.scan"), ply = dir.file("big.ply");
  // 20 frames of 256 x 240: 1,228,800 pixels, 33,177,600 bytes of output, above 24 MiB.
  const quarn::scan::PoseArray identity = rotationAboutZ(0, 0, 0, 0);
  quarn::scan::ScanWriter writer(scan, 20, identity);
  const std::vector<quarn::scan::ScanPixel> pixels(256 * 240, quarn::scan::ScanPixel{});
  for (int f = 0; f < 20; ++f) writer.addFrame(256, 240, identity, pixels.data());
  writer.finish();
  const fs::path group = makeMemoryCgroup(24 << 20);
  if (group.empty()) GTEST_SKIP() << "no memory cgroup controller to limit a process with";

  const int exitCode =
      runInCgroup(group, "exec \"" QUARN_TOOL_PATH "\" import '" + scan + "' --output '" + ply +
                             "' > /dev/null 2> '" + dir.file("err.txt") + "'");
  fs::remove(group);
  const std::string err = quarn::tool::test::readText(dir.file("err.txt"));
  EXPECT_EQ(exitCode, 1) << err;
  EXPECT_EQ(dir.files(), (std::vector<std::string>{"big.scan", "err.txt"}));
  const std::string said = "quarn: error: cannot import " + scan + ": needs 33 MB of memory, ";
  ASSERT_EQ(err.rfind(said, 0), 0u) << err;
  EXPECT_LE(std::stoul(err.substr(said.size())), 25u) << err;  // within the limit
  EXPECT_EQ(err.substr(err.find(" MB available")), " MB available\n") << err;
}

}  // namespace
