// quarn_bench_import_once SCAN PLUGIN: quarn_bench's child process. Loads the plug-in as a host
// does, reads the scan once into empty matrices and prints its peak resident memory. It is a
// program of its own so that Open3D's libraries, about 40 MB resident in quarn_bench, are not
// counted as the import's.

#include <cstdint>
#include <fstream>
#include <iostream>
#include <string>

#include "PluginLibrary.h"
#include "QuietStdout.h"

namespace {

// The number after `key:` in /proc/self/status, in bytes (the file gives kB), or -1. Per
// address space, so it starts afresh at exec: nothing of the parent is in it (getrusage's
// ru_maxrss would carry the parent's peak over through posix_spawn's vfork).
std::int64_t statusBytes(const std::string& key) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, key.size() + 1, key + ":") == 0) {
      return std::stoll(line.substr(key.size() + 1)) * 1024;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quarn_bench_import_once SCAN PLUGIN\n";
    return 2;
  }
  try {
    const PluginLibrary plugin(argv[2]);
    const std::int64_t before = statusBytes("VmRSS");
    PluginScan scan;
    bool read = false;
    {
      quarn::bench::QuietStdout quiet;
      read = plugin.read(argv[1], scan);
    }
    const std::int64_t peak = statusBytes("VmHWM");
    if (!read || peak < 0) {
      std::cerr << "quarn_bench_import_once: "
                << (read ? "no VmHWM in /proc/self/status" : "the plug-in cannot read the scan")
                << '\n';
      return 1;
    }
    std::cout << "peak_rss_bytes: " << peak << '\n'
              << "rss_before_bytes: " << before << '\n'
              << "columns: " << scan.points.cols() << std::endl;
    return std::cout ? 0 : 1;
  } catch (const std::exception& e) {
    std::cerr << "quarn_bench_import_once: " << e.what() << '\n';
    return 1;
  }
}
