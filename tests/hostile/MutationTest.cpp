// Hostile input through the built plug-in, loaded at run time as a host loads it: the
// writer's seed scans, every truncation and bit flip of one, and the fuzzer's regressions. Each
// must be a clean refusal or an exact import by every reader (checkScanInput holds them to their
// promises).

#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <iostream>
#include <limits>

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "PluginLibrary.h"
#include "ScanInputCheck.h"
#include "ScratchDir.h"
#include "SeedScans.h"
#include "TestScans.h"

namespace quarn::hostile {
namespace {

using namespace quarn::test;
using scan::kFrameHeaderSize;
using scan::kHeaderSize;

class HostileInput : public ::testing::Test {
 protected:
  // The plug-in prints a few lines per read into a file, so failures are collected and
  // reported once output is back. Returns how many of the inputs imported.
  int check(const std::vector<std::pair<std::string, Bytes>>& inputs) {
    int imported = 0;
    std::vector<std::string> broken;
    {
      CapturedStdout quiet(dir.file("stdout.txt"));
      for (const auto& [name, bytes] : inputs) {
        const InputOutcome outcome = checkScanInput(bytes.data(), bytes.size(),
                                                    dir.file("input.qscan"), plugin.readDotProduct);
        imported += outcome.imported;
        if (!outcome.broken.empty() && broken.size() < 10)
          broken.push_back(name + ": " + outcome.broken);
      }
    }
    for (const std::string& b : broken) ADD_FAILURE() << b;
    return imported;
  }

  ScratchDir dir;
  PluginLibrary plugin{QUARN_PLUGIN_PATH};
};

TEST_F(HostileInput, SeedScansImportAndFuzzRegressionsKeepEveryPromise) {
  std::vector<std::pair<std::string, Bytes>> inputs;
  for (const std::string& path : writeSeedScans(dir.path().string()))
    inputs.emplace_back(path, readBytes(path));
  EXPECT_EQ(check(inputs), 4);
  const Bytes good = inputs[2].second;  // four frames: 2 x 3, 0 x 4, 0 x 0 and 3 x 2
  for (std::size_t bit = 0; bit < 8 * good.size(); ++bit) {
    inputs.emplace_back("cut to " + std::to_string(bit / 8),
                        Bytes(good.begin(), good.begin() + bit / 8));
    inputs.emplace_back("bit " + std::to_string(bit), good);
    inputs.back().second[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
  }
  for (const auto& entry : std::filesystem::directory_iterator(QUARN_FUZZ_REGRESSIONS)) {
    if (entry.path().filename().string()[0] != '.')  // a dot file keeps the folder in git
      inputs.emplace_back(entry.path().string(), readBytes(entry.path().string()));
  }
  check(inputs);
}

// Each frame claims 2^31 - 1 columns of no pixels. Walking those columns once took a second a
// frame: this file kept a host busy for half an hour. Bounded here, far above the few
// milliseconds it takes.
TEST_F(HostileInput, FramesOfEmptyColumnsAreNoWork) {
  const std::string path = dir.file("wide.qscan");
  scan::ScanWriter writer(path, 2000, rotationAboutZ(0));
  for (int f = 0; f < 2000; ++f) writer.addFrame(INT_MAX, 0, rotationAboutZ(0), nullptr);
  writer.finish();
  auto read = std::async(std::launch::async, [&] { return check({{"wide", readBytes(path)}}); });
  if (read.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
    std::fprintf(stderr, "FAILED: a scan of empty columns took more than 30 s\n");
    std::_Exit(1);
  }
  EXPECT_EQ(read.get(), 1);
}

}  // namespace
}  // namespace quarn::hostile
