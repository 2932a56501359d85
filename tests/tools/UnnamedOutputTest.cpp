// On Linux an output has no name in its folder until it is complete: nothing named is there
// while it is written, nor after a run killed mid-write; an older file is replaced whole.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "OutputFile.h"
#include "RunTool.h"

namespace {

enum End { kOpen, kKilled, kCommitted };

TEST(UnnamedOutput, IsNamedOnlyOnceComplete) {
  ScratchDir dir;
  const int probe = open(dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "the file system of " << dir.path() << " has no O_TMPFILE";
  close(probe);
  const std::string out = dir.file("out");
  const struct {
    const char* name;
    bool older;
    End end;
    std::vector<std::string> files;
    std::string content;
  } cases[] = {{"being written", false, kOpen, {}, ""},
               {"being written over an older file", true, kOpen, {"out"}, "older"},
               {"killed while written", false, kKilled, {}, ""},
               {"committed", false, kCommitted, {"out"}, "newer"},
               {"committed over an older file", true, kCommitted, {"out"}, "newer"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(out);
    if (c.older) std::ofstream(out) << "older";
    const auto expectFolder = [&] {
      EXPECT_EQ(dir.files(), c.files);
      EXPECT_EQ(quarn::tool::test::readText(out), c.content);
    };
    if (c.end == kKilled) {
      const pid_t pid = fork();
      if (pid == 0) {
        quarn::scan::OutputFile file(out);
        file.stream() << "newer" << std::flush;
        raise(SIGKILL);
      }
      waitpid(pid, nullptr, 0);
      expectFolder();
    } else {
      quarn::scan::OutputFile file(out);
      file.stream() << "newer" << std::flush;
      if (c.end == kCommitted) file.commit();
      expectFolder();
    }
  }
}

}  // namespace
