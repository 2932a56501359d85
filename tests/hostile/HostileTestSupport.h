#pragma once

#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "PluginLibrary.h"
#include "ScanInputCheck.h"
#include "ScanTestSupport.h"

namespace quarn::hostile::test {

using scan::test::Bytes;

// What a batch of inputs did, and the promises they broke (the first few).
struct Tally {
  int tried = 0;
  int opened = 0;
  int imported = 0;
  std::vector<std::string> broken;
};

// Runs inputs through checkScanInput with the built plug-in loaded as a host loads it.
class HostileInputTest : public ::testing::Test {
 protected:
  // The plug-in prints a few lines per read; they go to a file, and so would a failure that
  // gtest printed meanwhile, so failures are collected and reported once output is back.
  template <typename Inputs>
  Tally check(const Inputs& inputs) {
    Tally tally;
    {
      CapturedStdout quiet(dir_.file("stdout.txt"));
      for (const auto& [name, bytes] : inputs) {
        const InputOutcome outcome = checkScanInput(
            bytes.data(), bytes.size(), dir_.file("input.qscan"), plugin_.readDotProduct);
        ++tally.tried;
        tally.opened += outcome.openStatus == 0;
        tally.imported += outcome.imported;
        if (!outcome.broken.empty() && tally.broken.size() < 10) {
          tally.broken.push_back(name + ": " + outcome.broken);
        }
      }
    }
    for (const std::string& broken : tally.broken) ADD_FAILURE() << broken;
    std::cout << tally.tried << " inputs: " << tally.opened << " opened, " << tally.imported
              << " imported\n";
    return tally;
  }

  ScratchDir dir_;
  PluginLibrary plugin_{QUARN_PLUGIN_PATH};
};

}  // namespace quarn::hostile::test
