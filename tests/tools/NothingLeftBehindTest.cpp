// On Linux an output of quarn's killed mid-write is never named.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

#include <gtest/gtest.h>

#include "OutputFile.h"
#include "ScratchDir.h"
#include "TestScans.h"

namespace {

using quarn::test::readText;

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
