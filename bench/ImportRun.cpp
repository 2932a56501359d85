#include "ImportRun.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "QuietStdout.h"
#include "Seconds.h"

extern char** environ;

namespace quarn::bench {

namespace {

ImportResult checkedResult(const PluginScan& scan) {
  if (scan.points.rows() != 3 || scan.colours.rows() != 3 ||
      scan.colours.cols() != scan.points.cols() || scan.transform.rows() != 4 ||
      scan.transform.cols() != 4) {
    throw std::runtime_error("the plug-in's result is not shaped as the host contract says");
  }
  ImportResult result;
  result.columns = scan.points.cols();
  while (result.valid < result.columns && !std::isnan(scan.points(0, result.valid))) ++result.valid;
  return result;
}

}  // namespace

double timeImport(const PluginLibrary& plugin, const std::string& scan, ImportResult& result) {
  PluginScan imported;
  bool read = false;
  double seconds = 0;
  {
    QuietStdout quiet;
    const tool::Clock::time_point start = tool::Clock::now();
    read = plugin.read(scan, imported);
    seconds = tool::secondsSince(start);
  }
  if (!read) throw std::runtime_error("the plug-in cannot read " + scan);
  result = checkedResult(imported);
  return seconds;
}

PeakMemory measureImportPeak(const std::string& child, const std::string& plugin,
                             const std::string& scan) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("cannot make a pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  std::vector<std::string> arguments = {child, scan, plugin};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawnError = posix_spawn(&pid, child.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (spawnError != 0) {
    close(pipeEnds[0]);
    throw std::runtime_error("cannot run " + child + ": " + std::strerror(spawnError));
  }

  std::string text;
  char chunk[4096];
  for (;;) {
    const ssize_t got = read(pipeEnds[0], chunk, sizeof chunk);
    if (got > 0) {
      text.append(chunk, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("the import child process failed");
  }

  PeakMemory peak;
  peak.peakBytes = peak.columns = -1;
  std::istringstream lines(text);
  std::string key;
  std::int64_t value = 0;
  while (lines >> key >> value) {
    if (key == "peak_rss_bytes:") peak.peakBytes = value;
    if (key == "rss_before_bytes:") peak.beforeBytes = value;
    if (key == "columns:") peak.columns = value;
  }
  if (peak.peakBytes <= 0 || peak.columns < 0) {
    throw std::runtime_error("the import child process reported no peak memory");
  }
  return peak;
}

}  // namespace quarn::bench
