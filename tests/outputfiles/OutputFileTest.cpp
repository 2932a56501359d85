// The user's output files, in process: each kind of target, with the type, mode and content
// after and nothing else left beside it; standard output by its names; names that are one
// file; on Linux, a write killed halfway and a scan that does not fit.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "OutputFile.h"
#include "ScanOutput.h"
#include "ScratchDir.h"
#include "TestScans.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace {

namespace fs = std::filesystem;
using quarn::output::checkDistinctFiles;
using quarn::output::namesStandardOutput;
using quarn::output::OutputFile;
using quarn::test::readText;

#if !defined(_WIN32)
std::string readAll(int fd) {
  std::string text;
  char buffer[256];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  return text;
}
#endif

// Each row writes "new", and when it seeks, goes back to write "N" over the "n".
TEST(OutputFile, EachKindOfTargetKeepsWhatIsThere) {
  ScratchDir dir;
  const auto file = [&](const std::string& name) { return dir.file(name); };
  const auto make = [&](const std::string& name, int mode) {
    std::ofstream(file(name)) << "old";
    fs::permissions(file(name), fs::perms(mode));
  };
  make("old.txt", 0640);
  make("ro.txt", 0444);
  fs::create_directory(file("dir"));
#if defined(_WIN32)
  const int mask = 0;
  const auto shown = [](int mode) { return mode & 0200 ? 0666 : 0444; };  // a read-only flag
#else
  const mode_t mask = umask(0);  // a new file's mode: 0666 less the mask, as the shell makes it
  umask(mask);
  const auto shown = [](int mode) { return mode; };
#endif
  struct Case {
    std::string name;
    bool seeks;
    std::string message;  // "" when written
    std::string checked;  // the name looked at after, "" for none
    fs::file_type type;
    int mode;
    std::string content;  // where `checked` leads
    std::string created;  // a name the write adds
  };
  using fs::file_type;
  const std::string missing = file("missing/new.txt");
  // clang-format off
  std::vector<Case> cases = {
      {file("new.txt"), true, "", "new.txt", file_type::regular, shown(0666 & ~mask), "New", "new.txt"},
      {file("old.txt"), false, "", "old.txt", file_type::regular, shown(0640), "new", ""},
      {file("dir"), false, "cannot write " + file("dir") + ": Is a directory", "dir", file_type::directory, -1, "", ""},
      {missing, true, "cannot write " + missing + ": No such file or directory", "", file_type::none, -1, "", ""}};
  // clang-format on
  const std::string readOnly = "cannot write " + file("ro.txt") + ": Permission denied";
  std::string pipeName;  // a pipe's writing end, whose bytes readPipe() returns
  std::function<std::string()> readPipe;
#if defined(_WIN32)
  cases.push_back({file("ro.txt"), false, readOnly, "ro.txt", file_type::regular, 0444, "old", ""});
#else
  if (geteuid() != 0) {  // root may write anything
    cases.push_back(
        {file("ro.txt"), false, readOnly, "ro.txt", file_type::regular, 0444, "old", ""});
  }
  if (geteuid() == 0) {  // its owner is kept
    ASSERT_EQ(chown(file("old.txt").c_str(), 65534, 65534), 0);
  }
  make("real.txt", 0600);
  make("log.txt", 0640);
  fs::create_symlink("real.txt", file("link.txt"));
  fs::create_symlink("made.txt", file("dangling.txt"));
  ASSERT_EQ(mkfifo(file("fifo").c_str(), 0600), 0);
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  pipeName = "/dev/fd/" + std::to_string(pipeEnds[1]);
  readPipe = [&] {
    close(pipeEnds[1]);
    const std::string bytes = readAll(pipeEnds[0]);
    close(pipeEnds[0]);
    return bytes;
  };
  const int appending = open(file("log.txt").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  const std::string appendingName =
      "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(appending);
  fs::create_symlink(appendingName, file("fd.link"));
  const int closed = fcntl(2, F_DUPFD_CLOEXEC, 100);
  close(closed);
  const std::string closedName = "/dev/fd/" + std::to_string(closed);
  // clang-format off
  cases.insert(cases.end(), {
      {file("link.txt"), true, "", "link.txt", file_type::symlink, 0600, "New", ""},
      {file("dangling.txt"), false, "", "dangling.txt", file_type::symlink, static_cast<int>(0666 & ~mask), "new", "made.txt"},
      {file("fifo"), false, "", "fifo", file_type::fifo, 0600, "new", ""},
      // A pipe: the whole file at commit. A descriptor that appends: never reopened at 0.
      {pipeName, true, "", "", file_type::none, -1, "New", ""},
      {file("fd.link"), true, "", "fd.link", file_type::symlink, 0640, "oldNew", ""},
      {closedName, false, "cannot write " + closedName + ": Bad file descriptor", "", file_type::none, -1, "", ""}});
  // clang-format on
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = file(c.checked);
    std::vector<std::string> expected = dir.files();
    if (!c.created.empty()) expected.push_back(c.created);
    std::sort(expected.begin(), expected.end());
    std::string content;
    std::thread reader;  // a FIFO's, reading while the file is written
    if (!c.checked.empty() && fs::is_fifo(path))
      reader = std::thread([&] { content = readText(path); });
    std::string error;
    try {
      OutputFile out(c.name, c.seeks);
      out.stream() << "new";
      if (c.seeks) out.stream().seekp(0) << 'N';
      out.commit();
    } catch (const quarn::output::OutputFileError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.message);
    if (reader.joinable()) {
      reader.join();
    } else if (!c.checked.empty() && !fs::is_directory(path)) {
      content = readText(path);
    } else if (c.name == pipeName) {
      content = readPipe();
    }
    EXPECT_EQ(content, c.content);
    EXPECT_EQ(dir.files(), expected);
    if (c.checked.empty()) continue;
    EXPECT_EQ(fs::symlink_status(path).type(), c.type);
    if (c.mode >= 0) {
      EXPECT_EQ(fs::status(path).permissions(), fs::perms(c.mode));
    }
  }
#if !defined(_WIN32)
  close(appending);
  struct stat owner;  // root replaced it, and gave it back to its owner
  EXPECT_TRUE(stat(file("old.txt").c_str(), &owner) == 0 &&
              owner.st_uid == (geteuid() == 0 ? 65534u : geteuid()));
#endif
}

#if !defined(_WIN32)
// Standard output is written straight through, and what the process prints after goes to
// standard error.
TEST(OutputFile, StandardOutputByItsNames) {
  for (const std::string name : {"-", "/dev/stdout", "/proc/self/fd/1"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(namesStandardOutput(name));
    int out[2], err[2];
    ASSERT_EQ(pipe(out) | pipe(err), 0);
    std::cout.flush();
    const int savedOut = dup(1), savedErr = dup(2);
    dup2(out[1], 1);
    dup2(err[1], 2);
    bool isStandardOutput = false;
    {
      OutputFile file(name, true);  // a pipe: spooled
      isStandardOutput = file.isStandardOutput();
      EXPECT_EQ(write(1, "printed", 7), 7);
      file.stream() << "new";
      file.stream().seekp(0) << 'N';
      file.commit();
    }
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    for (const int fd : {savedOut, savedErr, out[1], err[1]}) close(fd);
    EXPECT_TRUE(isStandardOutput);
    EXPECT_EQ(readAll(out[0]), "New");
    EXPECT_EQ(readAll(err[0]), "printed");
    close(out[0]);
    close(err[0]);
  }
  for (const std::string name : {"/dev/stderr", "/dev/fd/01", "/dev/fd/1/", "stdout", ""})
    EXPECT_FALSE(namesStandardOutput(name)) << name;
}
#endif

TEST(CheckDistinctFiles, OneFileUnderTwoNames) {
  ScratchDir dir;
  const std::string a = dir.file("a.ply"), hard = dir.file("hard.ply");
  std::ofstream(a) << "a";
  fs::create_hard_link(a, hard);
  const fs::path cwd = fs::current_path();
  fs::current_path(dir.path());  // for the relative names
  struct Case {
    std::vector<std::string> inputs, outputs;
    std::string message;  // "" for distinct files
  };
  // clang-format off
  std::vector<Case> cases = {
      {{a}, {hard}, "the output " + hard + " and the input " + a + " are the same file"},
      {{}, {"x.ply", "./x.ply"}, "the outputs x.ply and ./x.ply are the same file"},
      {{a}, {"x.ply", dir.file("y.ply")}, ""}};
  // clang-format on
#if !defined(_WIN32)
  const std::string sym = dir.file("sym.ply");
  fs::create_symlink("a.ply", sym);
  cases.push_back({{}, {a, sym}, "the outputs " + a + " and " + sym + " are the same file"});
  cases.push_back({{}, {"-", "/dev/stdout"}, "the outputs - and /dev/stdout are the same file"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outputs.at(0));
    std::string error;
    try {
      checkDistinctFiles(c.inputs, c.outputs);
    } catch (const quarn::output::SameFileError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.message);
  }
  fs::current_path(cwd);
}

#if defined(__linux__)
TEST(OutputFile, NamedOnlyOnceCompleteEvenWhenKilled) {
  ScratchDir dir;
  const int probe = open(dir.path().c_str(), O_TMPFILE | O_WRONLY, 0600);
  if (probe < 0) GTEST_SKIP() << "the file system of " << dir.path() << " has no O_TMPFILE";
  close(probe);
  const std::string out = dir.file("out");
  std::ofstream(out) << "older";
  if (fork() == 0) {  // a run killed mid-write
    OutputFile file(out);
    file.stream() << "newer" << std::flush;
    raise(SIGKILL);
  }
  wait(nullptr);
  OutputFile file(out);
  file.stream() << "newer" << std::flush;
  EXPECT_EQ(dir.files(), std::vector<std::string>{"out"});  // killed, and being written
  EXPECT_EQ(readText(out), "older");
  std::ofstream(out + ".part") << "stale";  // left by a run killed as it renamed
  file.commit();
  EXPECT_EQ(dir.files(), std::vector<std::string>{"out"});
  EXPECT_EQ(readText(out), "newer");
}

// A disk that fills up: the header's table, or a frame, cannot be written. The system's
// reason, and no file.
TEST(OutputFile, AScanThatDoesNotFitLeavesNoFile) {
  ScratchDir dir;
  const std::string path = dir.file("scan.qscan");
  const quarn::scan::PoseArray pose = quarn::test::rotationAboutZ(0);
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_IGN);
  const rlimit small{4096, saved.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  for (const auto& [frameCount, pixels] : {std::pair{4096, 0}, std::pair{1, 4096}}) {
    SCOPED_TRACE(frameCount);
    const std::vector<quarn::scan::ScanFrame> frames(frameCount,
                                                     quarn::test::cyclingFrame(1, pixels, pose, 0));
    std::string error;
    try {
      quarn::output::writeScanFile(path, pose, frames);
    } catch (const quarn::output::OutputFileError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, "cannot write " + path + ": File too large");
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_TRUE(fs::is_empty(dir.path()));
}
#endif

}  // namespace
