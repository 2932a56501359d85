// Each way quarn can fail: one line on stderr naming the problem, exit code 1 (2 for a wrong
// command line), and no output file left behind, not even a temporary one.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SampleScan.h"
#include "ScratchDir.h"
#include "TestScans.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace {

using namespace quarn::test;

// quarn run in a separate process, as a user runs it: its exit code and its stderr, Windows'
// CR of each line end dropped. Its output goes through files under `scratch`, removed after.
std::pair<int, std::string> runTool(const std::vector<std::string>& arguments,
                                    const std::filesystem::path& scratch) {
  const std::filesystem::path out = scratch / "tool-stdout.txt", err = scratch / "tool-stderr.txt";
  std::string command = "\"" QUARN_TOOL_PATH "\"";
  for (const std::string& argument : arguments) command += " \"" + argument + "\"";
  command += " > \"" + out.string() + "\" 2> \"" + err.string() + "\"";
#if defined(_WIN32)
  const int exitCode = std::system(("\"" + command + "\"").c_str());  // cmd strips one pair
#else
  const int status = std::system(command.c_str());
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  std::string said = readText(err.string());
  said.erase(std::remove(said.begin(), said.end(), '\r'), said.end());
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return {exitCode, said};
}

TEST(ToolFailure, OneLineExitCodeAndNoFileLeft) {
  ScratchDir dir;
  const auto file = [&](const char* name) { return dir.file(name); };
  quarn::tool::writeSampleScan(file("good.scan"), {2, 16, 12, 1});
  const Bytes good = readBytes(file("good.scan"));
  writeBytes(file("text.scan"), Bytes(80, 'x'));
  writeBytes(file("version2.scan"), with<std::uint32_t>(good, quarn::scan::kVersionOffset, 2));
  writeBytes(file("truncated.scan"), Bytes(good.begin(), good.end() - 1));
  PoseArray reflection = rotationAboutZ(0);
  reflection[10] = -1;  // the SDK opens it, the plug-in refuses the frame pose
  writeScan(file("reflected.scan"), rotationAboutZ(0), {cyclingFrame(1, 1, reflection, 0)});
  const std::vector<std::string> inputs = dir.files();

  const std::string goodScan = file("good.scan"), out = file("out.ply");
  const std::string nowhere = file("no-such-dir");
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
  };
  // clang-format off
  std::vector<Case> cases = {
      {{"import", file("reflected.scan"), "-o", out, "--preview", file("out.png")}, 1, "the plug-in cannot read it"},
      {{"import", goodScan, "-o", out, "--plugin", file("missing.so")}, 1, "cannot load the plug-in " + file("missing.so")},
      // A library, but not the plug-in: the SDK library lacks the exports.
      {{"import", goodScan, "-o", out, "--plugin", QUARN_SDK_PATH}, 1, "lacks readDotProduct or readDotProductNumberOfScans"},
      {{"import", goodScan, "-o", nowhere + "/out.ply"}, 1, "cannot write " + nowhere + "/out.ply: No such file or directory"},
      {{"import", goodScan, "-o", dir.path().string()}, 1, "cannot write " + dir.path().string() + ": Is a directory"},
      // The picture cannot be written, so the PLY is not written either.
      {{"import", goodScan, "-o", out, "--preview", nowhere + "/out.png"}, 1, "cannot write " + nowhere + "/out.png"},
      {{"sample", "-o", nowhere + "/out.scan", "--frames", "1"}, 1, "cannot write " + nowhere + "/out.scan: No such file"},
      {{"import", goodScan}, 2, "--output is required"},
      {{"import", goodScan, "-o", file("out.Foo")}, 2, "unknown output format '.Foo' (known: .ply, .pcd, .xyz)"},
      {{"import", goodScan, "-o", out, "--preview", file("out.jpg")}, 2, "unknown output format '.jpg' (known: .png)"},
      {{"import", goodScan, "-o", ""}, 2, "--output: the file name is empty"},
      {{"sample", "-o", file("s.scan"), "--width", "0"}, 2, "--width"},
      {{"sample", "-o", file("s.scan"), "--frames", "abc"}, 2, "--frames: 'abc' is not a whole number"},
      {{"frobnicate"}, 2, "frobnicate"},
      {{}, 2, "a command is required"}};
  const std::pair<const char*, const char*> scans[] = {
      {"missing.scan", "no such file"}, {"text.scan", "not a scan file"},
      {"version2.scan", "a scan file of an unsupported format version"}, {"truncated.scan", "the scan file is damaged"}};
  // clang-format on
  for (const auto& [name, reason] : scans) {
    cases.push_back(
        {{"import", file(name), "-o", out}, 1, "cannot import " + file(name) + ": " + reason});
    cases.push_back({{"info", file(name)}, 1, "cannot read " + file(name) + ": " + reason});
  }
  for (const Case& c : cases) {
    const auto [exitCode, err] = runTool(c.arguments, dir.path());
    SCOPED_TRACE(c.message);
    EXPECT_EQ(exitCode, c.exitCode) << err;
    EXPECT_EQ(err.rfind("quarn: error: ", 0), 0u) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_EQ(dir.files(), inputs);
  }
}

}  // namespace
