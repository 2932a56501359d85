// quarn_bench at a tiny size: its result lines, in order, hold numbers that agree with each
// other. No timing is checked: the numbers only have to be consistent.

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RunTool.h"
#include "ScratchDir.h"

namespace {

// The printed ratio of two printed values, allowing for each being rounded to its last digit.
void expectRatio(double ratio, double numerator, double denominator) {
  const double exact = numerator / denominator;
  const double rounding = 0.0005 + exact * (0.005 / numerator + 0.005 / denominator);
  EXPECT_NEAR(ratio, exact, rounding);
}

TEST(BenchOutput, PrintsConsistentResultLines) {
  ScratchDir dir;
  const ToolRun run = runTool(QUARN_TOOL_PATH,
                              {"--frames", "2", "--width", "40", "--height", "30", "--runs", "1",
                               "--data-dir", dir.file("data")},
                              dir.path());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<std::string> names = {"import_ns_per_pixel",
                                          "open3d_ns_per_pixel",
                                          "bound_4k_ns_per_pixel",
                                          "bound_hugepage_ns_per_pixel",
                                          "ratio_import_vs_open3d",
                                          "ratio_import_vs_bound_4k",
                                          "ratio_import_vs_bound_hugepage",
                                          "peak_rss_over_output",
                                          "python_read_ns_per_pixel",
                                          "ratio_python_vs_import"};
  std::istringstream lines(run.out);
  std::string line;
  std::vector<double> values;
  for (const std::string& name : names) {
    if (!std::getline(lines, line)) break;  // the Python lines need the Python package
    ASSERT_EQ(line.rfind(name + ": ", 0), 0u) << line;
    char* end = nullptr;
    values.push_back(std::strtod(line.c_str() + name.size() + 2, &end));
    EXPECT_TRUE(*end == '\0' && std::isfinite(values.back()) && values.back() > 0) << line;
  }
  ASSERT_GE(values.size(), 8u) << run.out;
  EXPECT_FALSE(std::getline(lines, line)) << "more than the result lines:\n" << run.out;
  for (int bound = 1; bound <= 3; ++bound) expectRatio(values[3 + bound], values[0], values[bound]);
  // At its peak the import held its whole output: less than 1 is a measuring fault.
  EXPECT_GE(values[7], 1.0);
  if (values.size() == 10) expectRatio(values[9], values[8], values[0]);
}

}  // namespace
