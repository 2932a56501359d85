#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#if defined(_WIN32)
#include <io.h>
#define QUARN_DUP _dup
#define QUARN_DUP2 _dup2
#define QUARN_CLOSE _close
#else
#include <unistd.h>
#define QUARN_DUP dup
#define QUARN_DUP2 dup2
#define QUARN_CLOSE close
#endif

// Captures what the process writes to its standard output file descriptor, which is where
// a loaded plug-in's std::cout ends up whatever C++ runtime it carries.
class CapturedStdout {
 public:
  explicit CapturedStdout(const std::string& file) : file_(file), saved_(QUARN_DUP(1)) {
    std::fflush(stdout);
    std::FILE* target = std::fopen(file_.c_str(), "wb");
    QUARN_DUP2(fileno(target), 1);
    std::fclose(target);
  }
  ~CapturedStdout() { text(); }

  // Stops capturing and returns what was written.
  std::string text() {
    if (saved_ >= 0) {
      std::fflush(stdout);
      QUARN_DUP2(saved_, 1);
      QUARN_CLOSE(saved_);
      saved_ = -1;
    }
    std::ifstream in(file_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::string file_;
  int saved_;
};
