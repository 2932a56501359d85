#pragma once

#include <cstdio>
#include <iostream>

#include <fcntl.h>
#include <unistd.h>

namespace quarn::bench {

// Sends what the process writes to its standard output file descriptor to /dev/null while it
// lives: the plug-in prints a few lines per read, and the benchmark's own output on stdout
// must stay exactly its result lines.
class QuietStdout {
 public:
  QuietStdout() {
    std::cout.flush();
    std::fflush(stdout);
    saved_ = dup(1);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, 1);
    if (null >= 0) close(null);
  }
  ~QuietStdout() {
    std::cout.flush();
    std::fflush(stdout);
    if (saved_ < 0) return;
    dup2(saved_, 1);
    close(saved_);
  }
  QuietStdout(const QuietStdout&) = delete;
  QuietStdout& operator=(const QuietStdout&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace quarn::bench
