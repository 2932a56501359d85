// quarn import frame by frame writes what the import of the whole read writes, byte for byte,
// in each format and the preview, to a file (headers written last) and to a FIFO (points
// counted first), on scans whose frames are empty, have no valid pixel, differ in size, or
// give points with a NaN coordinate, which both drop; with fewer points than pixels, so the
// headers' padding shows.

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include "CapturedStdout.h"
#include "ImportCommand.h"
#include "ScratchDir.h"
#include "TestScans.h"

namespace {

using namespace quarn::test;

// The report without its first line (the plug-in's path, or "read frame by frame") and times.
std::string reportFacts(const std::string& report) {
  std::istringstream lines(report);
  std::string line, facts;
  std::getline(lines, line);
  while (std::getline(lines, line))
    if (line.rfind("time", 0) != 0) facts += line + '\n';
  return facts;
}

ScanFrame withoutColours(ScanFrame frame) {
  for (ScanPixel& pixel : frame.pixels) pixel.flags &= ~quarn::scan::kHasColour;
  return frame;
}

TEST(StreamedImport, WritesTheWholeReadsBytes) {
  ScratchDir dir;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const PoseArray turned = rotationAboutZ(0.5, 1, -2, 0.25), still = rotationAboutZ(0);
  ScanFrame nanPixel = cyclingFrame(3, 5, turned, 1);
  nanPixel.pixels[5].y = nan;  // pixels 0, 5, 10 have both
  // Frame coordinates within floats, but not once moved by 1e38: an infinity, which times the
  // scan pose's zeros makes a NaN the pixels alone do not show.
  ScanFrame overflow = cyclingFrame(2, 5, rotationAboutZ(0, 1e38), 2);
  overflow.pixels[5].x = -3e38f;
  const ScanFrame nanPose = cyclingFrame(2, 3, rotationAboutZ(0.1, nan), 4);
  const std::vector<std::pair<std::string, std::vector<ScanFrame>>> scans = {
      {"sizes",
       {cyclingFrame(3, 4, turned, 0),
        {0, 0, turned, {}},
        withoutColours(cyclingFrame(4, 3, turned, 5)),
        cyclingFrame(5, 2, still, -3),
        {6, 0, still, {}},
        cyclingFrame(1, 1, turned, 9)}},
      {"nan", {nanPixel, overflow, nanPose, cyclingFrame(4, 4, still, 6)}},
      {"none", {{0, 0, turned, {}}, withoutColours(cyclingFrame(4, 4, turned, 0))}},
      {"no frames", {}}};
  struct Output {
    std::string name;
    bool preview;
  };
  std::vector<Output> outputs = {
      {"out.ply", false}, {"out.pcd", true}, {"out.pcd", false}, {"out.xyz", true}};
#if !defined(_WIN32)
  ASSERT_EQ(mkfifo(dir.file("fifo.ply").c_str(), 0600), 0);
  outputs.push_back({"fifo.ply", false});
#endif
  for (const auto& [name, frames] : scans) {
    writeScan(dir.file("s.scan"), name == "nan" ? still : turned, frames);
    for (const auto& [output, preview] : outputs) {
      SCOPED_TRACE(name + " to " + output + (preview ? " with a preview" : ""));
      std::string bytes[2], pictures[2], reports[2];
      for (const bool stream : {false, true}) {
        quarn::ConversionRequest options;
        options.scan = dir.file("s.scan");
        options.output = dir.file(output);
        options.preview = preview ? dir.file("out.png") : "";
        options.plugin = QUARN_PLUGIN_PATH;
        options.previewWidth = 48;
        options.previewHeight = 40;
        options.read =
            stream ? quarn::ConversionRequest::Read::frames : quarn::ConversionRequest::Read::whole;
        std::ostringstream report;
        std::thread reader;  // a FIFO's, reading while quarn writes
        if (output.rfind("fifo", 0) == 0)
          reader = std::thread([&] { bytes[stream] = readText(options.output); });
        {
          CapturedStdout quiet(dir.file("plugin.txt"));  // the plug-in's own lines
          EXPECT_NO_THROW(quarn::tool::importScan(options, report));
        }
        if (reader.joinable()) {
#if !defined(_WIN32)
          close(open(options.output.c_str(), O_WRONLY | O_NONBLOCK));  // if never opened
#endif
          reader.join();
        } else {
          bytes[stream] = readText(options.output);
        }
        if (preview) pictures[stream] = readText(options.preview);
        reports[stream] = reportFacts(report.str());
      }
      EXPECT_TRUE(bytes[0] == bytes[1])
          << bytes[0].size() << " and " << bytes[1].size() << " bytes";
      EXPECT_TRUE(pictures[0] == pictures[1]);
      EXPECT_EQ(reports[0], reports[1]);
    }
  }
}

}  // namespace
