#include "InfoCommand.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "DotProductAPI.h"
#include "Formatted.h"
#include "Platform.h"
#include "ScanFormat.h"
#include "ScanProblem.h"
#include "ScanStatus.h"

namespace quarn::tool {

namespace {

struct Counts {
  std::int64_t pixels = 0, points = 0, colours = 0, both = 0;
};

// The pose's 4 x 4 matrix row by row (value r + 4c is row r, column c).
void printPose(std::ostream& out, const char* indent, const scan::PoseArray& pose) {
  for (int r = 0; r < 4; ++r) {
    out << indent;
    for (int c = 0; c < 4; ++c) out << formatted(c == 3 ? " | %10.5f" : " %9.6f", pose[r + 4 * c]);
    out << '\n';
  }
}

// JSON: the pose's rows, each number in the shortest form that reads back the same (null
// where it is not finite), and the counts.
void jsonPose(std::ostream& out, const scan::PoseArray& pose) {
  out << '[';
  for (int r = 0; r < 4; ++r) {
    out << (r > 0 ? ", [" : "[");
    for (int c = 0; c < 4; ++c) {
      char text[32];
      const double value = pose[r + 4 * c];
      const char* end = std::to_chars(text, text + sizeof text, value).ptr;
      out << (c > 0 ? ", " : "") << (std::isfinite(value) ? std::string(text, end - text) : "null");
    }
    out << ']';
  }
  out << ']';
}

std::string jsonCounts(const Counts& counts) {
  return "\"pixels\": " + std::to_string(counts.pixels) +
         ", \"with_point\": " + std::to_string(counts.points) +
         ", \"with_colour\": " + std::to_string(counts.colours) +
         ", \"with_both\": " + std::to_string(counts.both);
}

std::string jsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + '"';
}

std::string countsText(const Counts& counts) {
  return std::to_string(counts.pixels) + " pixels, " + std::to_string(counts.points) +
         " with a point, " + std::to_string(counts.colours) + " with a colour, " +
         std::to_string(counts.both) + " with both";
}

}  // namespace

void printScanInfo(const std::string& path, std::ostream& out, bool json) {
  DotProductAPI sdk;
  const int status = sdk.open(sdkPath(path).c_str(), nullptr);
  if (status != scan::kOk) {
    throw std::runtime_error("cannot read " + path + ": " + describeOpenStatus(path, status));
  }
  const int frameCount = sdk.getFrameCount();
  scan::PoseArray scanPose{};
  sdk.getPositionAndOrientation(scanPose.data());
  if (json) {
    out << "{\"scan\": " << jsonString(path) << ",\n \"pose\": ";
    jsonPose(out, scanPose);
    out << ",\n \"frames\": [";
  } else {
    out << "scan " << path << '\n' << "frames " << frameCount << '\n' << "scan pose\n";
    printPose(out, "  ", scanPose);
  }

  Counts total;
  for (int f = 0; f < frameCount; ++f) {
    sdk.openFrame(f);
    const int sizeX = sdk.getFrameSizeX(), sizeY = sdk.getFrameSizeY();
    scan::PoseArray pose{};
    sdk.getFramePositionAndOrientation(pose.data());
    Counts counts;
    counts.pixels = static_cast<std::int64_t>(sizeX) * sizeY;
    for (int x = 0; x < sizeX; ++x) {
      for (int y = 0; y < sizeY; ++y) {
        float px, py, pz;
        unsigned char c0, c1, c2;
        const int point = sdk.getCartesianAtPixel(x, y, px, py, pz);
        const int colour = sdk.getColourAtPixel(x, y, c0, c1, c2);
        if (point == scan::kReadFailed || colour == scan::kReadFailed) {
          throw std::runtime_error("cannot read " + path + ": the pixels of frame " +
                                   std::to_string(f) + " cannot be read");
        }
        counts.points += point == scan::kOk;
        counts.colours += colour == scan::kOk;
        counts.both += point == scan::kOk && colour == scan::kOk;
      }
    }
    if (json) {
      out << (f > 0 ? ",\n  " : "\n  ") << "{\"width\": " << sizeX << ", \"height\": " << sizeY
          << ", " << jsonCounts(counts) << ", \"pose\": ";
      jsonPose(out, pose);
      out << '}';
    } else {
      out << "frame " << f << ": " << sizeX << " x " << sizeY << ", " << countsText(counts) << '\n';
      printPose(out, "    ", pose);
    }
    total.pixels += counts.pixels;
    total.points += counts.points;
    total.colours += counts.colours;
    total.both += counts.both;
  }
  if (json) {
    out << "],\n \"total\": {\"frames\": " << frameCount << ", " << jsonCounts(total) << "}}\n";
  } else {
    out << "total: " << countsText(total) << '\n';
  }
}

}  // namespace quarn::tool
