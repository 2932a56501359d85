#pragma once

// A memory cgroup of a test's own (Linux, as root), created with a limit and removed: cgroup
// v1 under /sys/fs/cgroup/memory, else v2 under /sys/fs/cgroup when memory is in its
// subtree_control. problem() says why there is none, for GTEST_SKIP.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

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
