// quarn_bench at a tiny size: its result lines, in order, hold numbers that agree with each
// other, and the scan it keeps is reused and written again only when it does not match. No
// timing is checked: the numbers only have to be consistent.

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RunTool.h"  // with QUARN_TOOL_PATH naming quarn_bench

namespace {

using quarn::tool::test::readText;
using quarn::tool::test::runTool;
using quarn::tool::test::ScratchDir;

const std::vector<std::string> kTinyScan = {"--frames", "2",  "--width", "40",
                                            "--height", "30", "--runs",  "1"};
const char* const kNames[] = {"import_ns_per_pixel",
                              "open3d_ns_per_pixel",
                              "bound_4k_ns_per_pixel",
                              "bound_hugepage_ns_per_pixel",
                              "ratio_import_vs_open3d",
                              "ratio_import_vs_bound_4k",
                              "ratio_import_vs_bound_hugepage",
                              "peak_rss_over_output"};

quarn::tool::test::ToolRun runBench(const ScratchDir& dir) {
  std::vector<std::string> arguments = kTinyScan;
  arguments.insert(arguments.end(), {"--data-dir", dir.file("data")});
  return runTool(arguments, dir.path());
}

// The printed ratio of two printed values, allowing for each being rounded to its last digit.
void expectRatio(double ratio, double numerator, double denominator) {
  const double exact = numerator / denominator;
  const double rounding = 0.0005 + exact * (0.005 / numerator + 0.005 / denominator);
  EXPECT_NEAR(ratio, exact, rounding);
}

TEST(BenchOutput, PrintsConsistentResultLines) {
  ScratchDir dir;
  const auto run = runBench(dir);
  ASSERT_EQ(run.exitCode, 0) << run.err;

  std::istringstream lines(run.out);
  std::string line;
  std::vector<double> values;
  for (const char* name : kNames) {
    ASSERT_TRUE(std::getline(lines, line)) << "no line " << name << " in:\n" << run.out;
    const std::string prefix = std::string(name) + ": ";
    ASSERT_EQ(line.compare(0, prefix.size(), prefix), 0) << line;
    const char* text = line.c_str() + prefix.size();
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    ASSERT_TRUE(end != text && *end == '\0') << line;
    EXPECT_TRUE(std::isfinite(value) && value > 0) << line;
    values.push_back(value);
  }
  EXPECT_FALSE(std::getline(lines, line)) << "more than the result lines:\n" << run.out;

  for (int bound = 1; bound <= 3; ++bound) expectRatio(values[3 + bound], values[0], values[bound]);
  // At its peak the import held its whole output: less than 1 is a measuring fault.
  EXPECT_GE(values[7], 1.0);
}

TEST(BenchOutput, KeepsItsScanAndWritesItAgainOnlyWhenItDoesNotMatch) {
  ScratchDir dir;
  const std::string scan = dir.file("data/sample-2x40x30-seed1.scan");
  const std::string ply = dir.file("data/sample-2x40x30-seed1.ply");
  const auto first = runBench(dir);
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_NE(first.err.find("writing " + scan), std::string::npos) << first.err;
  const std::string scanBytes = readText(scan), plyBytes = readText(ply);
  ASSERT_FALSE(scanBytes.empty());
  ASSERT_FALSE(plyBytes.empty());
  const auto written = std::filesystem::last_write_time(scan);

  const auto again = runBench(dir);
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.err.find("writing"), std::string::npos) << again.err;
  EXPECT_EQ(std::filesystem::last_write_time(scan), written);

  // A kept scan of another size is not timed as this one: it is written again, and its PLY too.
  {
    ScratchDir other;
    ASSERT_EQ(runTool({"--frames", "1", "--width", "40", "--height", "30", "--runs", "1",
                       "--data-dir", other.file("data")},
                      other.path())
                  .exitCode,
              0);
    std::filesystem::copy_file(other.file("data/sample-1x40x30-seed1.scan"), scan,
                               std::filesystem::copy_options::overwrite_existing);
  }
  std::filesystem::resize_file(ply, 10);
  const auto replaced = runBench(dir);
  ASSERT_EQ(replaced.exitCode, 0) << replaced.err;
  EXPECT_NE(replaced.err.find("writing " + scan), std::string::npos) << replaced.err;
  EXPECT_EQ(readText(scan), scanBytes);
  EXPECT_EQ(readText(ply), plyBytes);
}

}  // namespace
