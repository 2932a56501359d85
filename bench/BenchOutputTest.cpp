// quarn_bench at a tiny size: its result lines, in order, hold numbers that agree with each
// other. No timing is checked: the numbers only have to be consistent.

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RunTool.h"
#include "ScratchDir.h"

namespace {

const std::vector<std::string> kTinyScan = {"--frames", "2",  "--width", "40",
                                            "--height", "30", "--runs",  "1"};
const char* const kNames[] = {"import_ns_per_pixel",      "open3d_ns_per_pixel",
                              "bound_ns_per_pixel",       "ratio_import_vs_open3d",
                              "ratio_import_vs_bound",    "peak_rss_over_output",
                              "python_read_ns_per_pixel", "ratio_python_vs_import"};

ToolRun runBench(const ScratchDir& dir) {
  std::vector<std::string> arguments = kTinyScan;
  arguments.insert(arguments.end(), {"--data-dir", dir.file("data")});
  return runTool(QUARN_TOOL_PATH, arguments, dir.path());
}

// The printed ratio of two printed values, allowing for each being rounded to its last digit.
void expectRatio(double ratio, double numerator, double denominator) {
  const double exact = numerator / denominator;
  const double rounding = 0.0005 + exact * (0.005 / numerator + 0.005 / denominator);
  EXPECT_NEAR(ratio, exact, rounding);
}

TEST(BenchOutput, PrintsItsConsistentResultLines) {
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
  EXPECT_FALSE(std::getline(lines, line)) << "more than its lines:\n" << run.out;

  expectRatio(values[3], values[0], values[1]);
  expectRatio(values[3 + 1], values[0], values[2]);
  // At its peak the import held its whole output: less than 1 is a measuring fault.
  EXPECT_GE(values[5], 1.0);
  expectRatio(values[7], values[6], values[0]);
}

}  // namespace
