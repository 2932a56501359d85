// Each way quarn can fail: one line on stderr naming the problem, exit code 1 (2 for a wrong
// command line), and no output file left behind, not even a temporary one.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RunTool.h"
#include "SampleScan.h"
#include "ScanFormat.h"
#include "ScanWriter.h"

namespace {

using namespace quarn::tool;
using quarn::tool::test::readText;
using quarn::tool::test::runTool;
using quarn::tool::test::ScratchDir;
namespace scan = quarn::scan;

class ToolFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    writeSampleScan(dir.file("good.scan"), SampleOptions{2, 16, 12, 1});
    const std::string good = readText(dir.file("good.scan"));
    write("text.scan", "plain text, long enough to hold a scan file's header and more of it");
    std::string version = good;
    version[scan::kVersionOffset] = 2;
    write("version2.scan", version);
    write("truncated.scan", good.substr(0, good.size() - 1));

    // The SDK opens it, but its frame pose is a reflection, which the plug-in refuses.
    scan::PoseArray identity{}, reflection{};
    identity[0] = identity[5] = identity[10] = identity[15] = 1;
    reflection = identity;
    reflection[10] = -1;
    scan::ScanPixel pixel{1, 2, 3, scan::kHasPoint | scan::kHasColour, {1, 2, 3}};
    scan::writeScan(dir.file("reflected.scan"), identity, {{1, 1, reflection, {pixel}}});
    inputs = dir.files();
  }

  void write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir.file(name), std::ios::binary) << bytes;
  }

  // Runs quarn, which must fail with `exitCode` and a single line on stderr containing
  // `message`, leaving the directory as it was.
  void expectFailure(const std::vector<std::string>& arguments, int exitCode,
                     const std::string& message) {
    const auto run = runTool(arguments, dir.path());
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
    EXPECT_EQ(run.err.rfind("quarn: error: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    EXPECT_EQ(dir.files(), inputs);
  }

  ScratchDir dir;
  std::vector<std::string> inputs;
};

TEST_F(ToolFailure, ImportAndInfoNameWhatIsWrongWithTheScan) {
  const struct {
    const char* file;
    const char* reason;
  } cases[] = {{"missing.scan", "no such file"},
               {"text.scan", "not a scan file"},
               {"version2.scan", "a scan file of an unsupported format version"},
               {"truncated.scan", "the scan file is damaged"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string scanPath = dir.file(c.file);
    expectFailure({"import", scanPath, "--output", dir.file("out.ply")}, 1,
                  "cannot import " + scanPath + ": " + c.reason);
    expectFailure({"info", scanPath}, 1, "cannot read " + scanPath + ": " + c.reason);
  }
  expectFailure({"import", dir.file("reflected.scan"), "--output", dir.file("out.ply"), "--preview",
                 dir.file("out.png")},
                1, "the plug-in cannot read it");
}

TEST_F(ToolFailure, ImportNamesAPluginItCannotUse) {
  const std::string good = dir.file("good.scan"), out = dir.file("out.ply");
  expectFailure({"import", good, "--output", out, "--plugin", dir.file("missing.so")}, 1,
                "cannot load the plug-in " + dir.file("missing.so"));
  // A library, but not the plug-in: the SDK library lacks the exports.
  expectFailure({"import", good, "--output", out, "--plugin", QUARN_SDK_PATH}, 1,
                "lacks readDotProduct or readDotProductNumberOfScans");
}

TEST_F(ToolFailure, OutputsThatCannotBeWrittenFailBeforeAnythingIsWritten) {
  const std::string good = dir.file("good.scan"), out = dir.file("out.ply");
  const std::string nowhere = dir.file("no-such-dir");
  expectFailure({"import", good, "--output", nowhere + "/out.ply"}, 1,
                "cannot write " + nowhere + "/out.ply");
  expectFailure({"import", good, "--output", dir.path().string()}, 1, "it is a directory");
  // The picture cannot be written, so the PLY is not written either.
  expectFailure({"import", good, "--output", out, "--preview", nowhere + "/out.png"}, 1,
                "cannot write " + nowhere + "/out.png");
  expectFailure({"sample", "--output", nowhere + "/out.scan", "--frames", "1"}, 1,
                "cannot create " + nowhere + "/out.scan");
}

TEST_F(ToolFailure, WrongCommandLinesExitWith2) {
  expectFailure({"import", dir.file("good.scan")}, 2, "--output is required");
  expectFailure({"sample", "--output", dir.file("s.scan"), "--width", "0"}, 2, "--width");
  expectFailure({"frobnicate"}, 2, "frobnicate");
  expectFailure({}, 2, "a command is required");
}

}  // namespace
