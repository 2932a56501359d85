#pragma once

// A scripted stand-in for the scanner SDK: the plug-in's sources are linked against this
// definition of DotProductAPI; a test sets scannerScript() and reads back the calls made.

#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "TestScans.h"

using Pose = quarn::test::PoseArray;
using quarn::test::rotationAboutZ;

// Pixel (x, y) has point (x, y, 0) and colour (x, y, 7), unless listed as without them.
struct ScriptedFrame {
  int sizeX = 0, sizeY = 0;
  Pose pose = rotationAboutZ(0);
  bool writesPose = true;
  std::optional<std::pair<int, int>> laterSizes{};  // sizes from the second openFrame on
  std::set<std::pair<int, int>> withoutPoint{}, withoutColour{};
};

struct ScannerScript {
  std::vector<int> openResults{0};  // result of the 1st, 2nd, ... open; 0 once the list ends
  Pose globalPose = rotationAboutZ(0);
  std::vector<ScriptedFrame> frames{};
  bool throwOnPixel = false;
  std::vector<std::string> calls{};  // filled as the plug-in calls the SDK
};

// The script the next DotProductAPI objects follow.
ScannerScript& scannerScript();
