#pragma once

// A scripted stand-in for the scanner SDK: the tests link the plug-in's sources against
// this definition of DotProductAPI, describe a scan and the SDK's behaviour in a
// ScannerScript, and read back the exact sequence of calls the plug-in made.

#include <array>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

struct ScriptedPixel {
  std::optional<std::array<float, 3>> point;
  std::optional<std::array<unsigned char, 3>> colour;
};

struct ScriptedFrame {
  int sizeX = 0;
  int sizeY = 0;
  // Sizes reported on the second and later openFrame of this frame, if they differ.
  std::optional<std::pair<int, int>> laterSizes;
  std::array<double, 17> pose{};
  bool writesPose = true;
  std::map<std::pair<int, int>, ScriptedPixel> pixels;  // absent: neither point nor colour
};

struct ScannerScript {
  std::vector<int> openResults{0};  // result of the 1st, 2nd, ... open; 0 once the list ends
  int frameCount = 0;
  std::array<double, 17> globalPose{};
  std::vector<ScriptedFrame> frames;
  bool throwOnPixel = false;  // the SDK throws from getCartesianAtPixel

  // Filled by the SDK as the plug-in calls it.
  std::vector<std::string> calls;
  int constructed = 0;
  int destroyed = 0;
  int pixelCalls = 0;
};

// The script the next DotProductAPI objects follow. Reset by every test fixture.
ScannerScript& scannerScript();

// Identity pose with translation (tx, ty, tz), stored column by column as the SDK does.
std::array<double, 17> poseWithTranslation(double tx, double ty, double tz);

// A frame of sizeX x sizeY where every pixel has a point and a colour derived from (x, y).
ScriptedFrame fullFrame(int sizeX, int sizeY, float base);
