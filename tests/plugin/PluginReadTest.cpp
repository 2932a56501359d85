// The plug-in's read against a scripted SDK: the calls it makes, what it prints, what the
// host's matrices hold afterwards, and that a failed read leaves them alone.

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "HostMatrices.h"
#include "ScratchDir.h"
#include "ScriptedScanner.h"
#include "platform/ShortPath.h"

namespace {

using Calls = std::vector<std::string>;

const std::string kIdentityPrint = "Global scene transform T_g_r =\n1 0 0 0\n0 1 0 0\n0 0 1 0\n\n";
const Pose kIdentity = rotationAboutZ(0);

class PluginRead : public ::testing::Test {
 protected:
  // Reads the scan of `script` into `host`, capturing what the plug-in prints.
  bool read(const ScannerScript& script, HostMatrices& host, const char* path = "scan.bin",
            int scanIndex = 0) {
    scannerScript() = script;
    CapturedStdout capture(scratch.file("stdout.txt"));
    const bool result = host.read(&readDotProduct, path, scanIndex);
    console = capture.text();
    return result;
  }

  ScratchDir scratch;
  std::string console;
  const Calls& calls = scannerScript().calls;
};

// Frames of negative or zero size add no pixels and no pixel calls (-5 x -7 would be 35); a
// colour is asked only for a point.
TEST_F(PluginRead, CallsTheSdkInOrder) {
  HostMatrices host;
  ASSERT_TRUE(read(
      {{0}, kIdentity, {{1, 2, kIdentity, true, {}, {{0, 1}}, {{0, 0}}}, {-5, -7}, {0, 3}}}, host));
  EXPECT_EQ(host.points.cols(), 2);
  // clang-format off
  EXPECT_EQ(calls, (Calls{"construct", "open scan.bin", "getFrameCount",
      "getPositionAndOrientation", "openFrame 0", "getFrameSizeX", "getFrameSizeY", "openFrame 1",
      "getFrameSizeX", "getFrameSizeY", "openFrame 2", "getFrameSizeX", "getFrameSizeY",
      "openFrame 0", "getFrameSizeX", "getFrameSizeY", "getFramePositionAndOrientation",
      "point 0,0", "colour 0,0", "point 0,1", "openFrame 1", "getFrameSizeX", "getFrameSizeY",
      "getFramePositionAndOrientation", "openFrame 2", "getFrameSizeX", "getFrameSizeY",
      "getFramePositionAndOrientation", "destroy"}));
  // clang-format on
  EXPECT_EQ(console, "3 frames found.\n" + kIdentityPrint);
}

// The scan index, an empty scan and the retry under the file's other name (the real one of
// this platform, with an SDK that refuses the first name).
TEST_F(PluginRead, ScanIndexAndRetryUnderTheOtherName) {
  const std::filesystem::path file = scratch.path() / "scan.bin";
  std::ofstream(file) << "x";
#if defined(_WIN32)
  const std::string given = file.u8string();  // the folder's name is too long for 8.3
#else
  const std::string given = std::filesystem::relative(file).string();
#endif
  std::string other;  // the short path on Windows, the canonical one elsewhere
  ASSERT_TRUE(alternativeScanPath(given.c_str(), other));
  ASSERT_NE(other, given);
  const std::string frames = "12 frames found.\n";
  const std::string retry = "Reading from short path: " + other + "\n";
  struct Case {
    std::vector<int> openResults;
    const char* path;
    int scanIndex;
    bool result;
    std::string console;
    Calls calls;  // the first calls
  };
  // clang-format off
  const Case cases[] = {
      {{0}, "scan.bin", 1, false, frames, {"construct", "open scan.bin", "getFrameCount", "destroy"}},
      {{0}, "scan.bin", -3, true, frames + kIdentityPrint, {}},
      {{3, 0}, given.c_str(), 0, true, retry + frames + kIdentityPrint,
       {"construct", "open " + given, "open " + other, "getFrameCount"}},
      {{1, 1}, given.c_str(), 0, false, retry, {"construct", "open " + given, "open " + other, "destroy"}},
      {{1}, "no/such/scan.bin", 0, false, "", {"construct", "open no/such/scan.bin", "destroy"}},
      {{}, nullptr, 0, false, "", {"construct", "destroy"}}};
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.console);
    HostMatrices host;
    EXPECT_EQ(
        read({c.openResults, kIdentity, std::vector<ScriptedFrame>(12)}, host, c.path, c.scanIndex),
        c.result);
    EXPECT_EQ(console, c.console);
    EXPECT_EQ(Calls(calls.begin(), calls.begin() + std::min(calls.size(), c.calls.size())),
              c.calls);
    // A refused read touches nothing; an empty scan gives 3 x 0.
    EXPECT_TRUE(c.result ? host.points.rows() == 3 && host.colours.size() + host.points.size() == 0
                         : host.untouched());
  }
}

// Points and colours always get new storage; the transform keeps storage of 16 elements and
// takes the raw pose row by row, with the identity in the upper-left 3 x 3.
TEST_F(PluginRead, FreshStorageAndTheRawPoseRowByRow) {
  Pose pose = rotationAboutZ(0, 0.1, 0.2, 0.3);
  for (const int i : {3, 7, 11, 15, 16}) pose[i] = 0.5 * i;
  const double expected[16] = {1, 0, 0, 0.1, 0, 1, 0, 0.2, 0, 0, 1, 0.3, 1.5, 3.5, 5.5, 7.5};
  for (const int rows : {2, 3}) {  // 2 x 8 and 3 x 3
    HostMatrices host;
    host.transform.resize(rows, rows == 2 ? 8 : 3);
    const void* old[] = {host.points.data(), host.colours.data(), host.transform.data()};
    ASSERT_TRUE(read({{0}, pose}, host));
    EXPECT_NE(host.points.data(), old[0]);
    EXPECT_NE(host.colours.data(), old[1]);
    EXPECT_EQ(host.transform.data() == old[2], rows == 2) << rows;
    ASSERT_EQ(host.transform.rows() * 10 + host.transform.cols(), 44);
    EXPECT_EQ(std::memcmp(host.transform.data(), expected, sizeof expected), 0);
  }
}

// Every way a read can fail once the scan is open: false, the SDK object destroyed once, and
// the host's matrices exactly as they were.
TEST_F(PluginRead, FailedReadsLeaveTheHostMatricesAlone) {
  Pose reflection = kIdentity, zeroRow = kIdentity, withNaN = kIdentity;
  reflection[10] = -1.0;
  zeroRow[1] = zeroRow[5] = zeroRow[9] = 0.0;
  withNaN[4] = std::numeric_limits<double>::quiet_NaN();
  const ScriptedFrame full{2, 2}, huge{INT_MAX, INT_MAX};
  // clang-format off
  const std::pair<const char*, ScannerScript> cases[] = {
      {"reflected global pose", {{0}, reflection}},
      {"zero row in global pose", {{0}, zeroRow}},
      {"NaN in global pose", {{0}, withNaN}},
      {"reflected frame pose", {{0}, kIdentity, {full, {1, 1, reflection}}}},
      {"bad pose of a frame without pixels", {{0}, kIdentity, {full, {0, 0, zeroRow}}}},
      {"frame pose never written", {{0}, kIdentity, {{1, 1, kIdentity, false}}}},
      {"sizes grew between the passes", {{0}, kIdentity, {{2, 3, kIdentity, true, std::pair{3, 3}}}}},
      {"more pixels than any matrix holds", {{0}, kIdentity, {huge, huge, huge}}},
      {"more memory than the machine has", {{0}, kIdentity, {{1 << 21, 1 << 21}}}},  // 100 TB
      {"SDK throws", {{0}, kIdentity, {full}, true}}};
  // clang-format on
  for (const auto& [name, script] : cases) {
    HostMatrices host;
    EXPECT_FALSE(read(script, host)) << name;
    EXPECT_TRUE(host.untouched()) << name;
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "destroy"), 1) << name;
    EXPECT_EQ(calls.back(), "destroy") << name;
  }
  EXPECT_EQ(readDotProductNumberOfScans(nullptr), 1);
}

}  // namespace
