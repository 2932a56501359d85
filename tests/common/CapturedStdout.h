#pragma once

#include <cstdio>
#include <string>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "TestScans.h"

// Captures what the process writes to its standard output file descriptor, which is where
// a loaded plug-in's std::cout ends up whatever C++ runtime it carries.
class CapturedStdout {
 public:
  explicit CapturedStdout(const std::string& file) : file_(file), saved_(dup(1)) {
    std::fflush(stdout);
    std::FILE* target = std::fopen(file_.c_str(), "wb");
    dup2(fileno(target), 1);
    std::fclose(target);
  }
  ~CapturedStdout() { text(); }

  // Stops capturing and returns what was written.
  std::string text() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      dup2(saved_, 1);
      close(saved_);
      saved_ = -1;
    }
    return quarn::test::readText(file_);
  }

 private:
  std::string file_;
  int saved_;
};
