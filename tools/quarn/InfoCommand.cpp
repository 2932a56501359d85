#include "InfoCommand.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "Formatted.h"
#include "FrameReader.h"
#include "ScanReasons.h"
#include "ScanSession.h"
#include "ScanStatus.h"

namespace quarn::tool {

namespace {

// The stored pose's 4 x 4 matrix row by row (value r + 4c is row r, column c).
void printPose(std::ostream& out, const char* indent, const PoseArray& pose) {
  for (int r = 0; r < 4; ++r) {
    out << indent;
    for (int c = 0; c < 4; ++c) out << formatted(c == 3 ? " | %10.5f" : " %9.6f", pose[r + 4 * c]);
    out << '\n';
  }
}

// JSON: a 4 x 4 matrix's rows, each number in the shortest form that reads back the same
// (null where it is not finite).
template <class Element>
void jsonMatrix(std::ostream& out, const Element& element) {
  out << '[';
  for (int r = 0; r < 4; ++r) {
    out << (r > 0 ? ", [" : "[");
    for (int c = 0; c < 4; ++c) {
      char text[32];
      const double value = element(r, c);
      const char* end = std::to_chars(text, text + sizeof text, value).ptr;
      out << (c > 0 ? ", " : "") << (std::isfinite(value) ? std::string(text, end - text) : "null");
    }
    out << ']';
  }
  out << ']';
}

void jsonPose(std::ostream& out, const PoseArray& pose) {
  jsonMatrix(out, [&](int r, int c) { return pose[r + 4 * c]; });
}

std::string jsonCounts(const PixelKinds& counts) {
  return "\"pixels\": " + std::to_string(counts.pixels) +
         ", \"with_point\": " + std::to_string(counts.withPoint) +
         ", \"with_colour\": " + std::to_string(counts.withColour) +
         ", \"with_both\": " + std::to_string(counts.withBoth);
}

// The length of the UTF-8 sequence at text[i], 0 when it is not one (overlong forms,
// surrogates and values beyond U+10FFFF included).
std::size_t utf8Sequence(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  const std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                             : lead >= 0xe0 && lead <= 0xef ? 3
                             : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                            : 0;
  if (length == 0 || i + length > text.size()) return 0;
  for (std::size_t k = i + 1; k < i + length; ++k)
    if ((byte(k) & 0xc0) != 0x80) return 0;
  const unsigned char second = byte(i + 1);
  if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second >= 0xa0) ||
      (lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second >= 0x90))
    return 0;
  return length;
}

// A JSON string of a file name. A byte that is not part of UTF-8 becomes the lone surrogate
// U+DC80 + byte, as Python's os.fsdecode makes it, so that os.fsencode gives the name back.
std::string jsonString(const std::string& text) {
  std::string quoted = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const std::size_t length = utf8Sequence(text, i);
    char escape[8];
    if (length == 0) {
      std::snprintf(escape, sizeof escape, "\\udc%02x", static_cast<unsigned char>(c));
      quoted += escape;
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      quoted += escape;
    } else {
      quoted.append(text, i, length);
    }
    i += length;
  }
  return quoted + '"';
}

std::string countsText(const PixelKinds& counts) {
  return std::to_string(counts.pixels) + " pixels, " + std::to_string(counts.withPoint) +
         " with a point, " + std::to_string(counts.withColour) + " with a colour, " +
         std::to_string(counts.withBoth) + " with both";
}

}  // namespace

void printScanInfo(const std::string& path, std::ostream& out, bool json) {
  ScanSession session(path);
  if (session.status() != scan::kOk) {
    throw std::runtime_error("cannot read " + path + ": " +
                             describeOpenStatus(path, session.status()));
  }
  const int frameCount = session.frameCount();
  const PoseArray& scanPose = session.scanPose();
  if (json) {
    out << "{\"scan\": " << jsonString(path) << ",\n \"stored_pose\": ";
    jsonPose(out, scanPose);
    out << ",\n \"frames\": [";
  } else {
    out << "scan " << path << '\n' << "frames " << frameCount << '\n' << "scan pose, as stored\n";
    printPose(out, "  ", scanPose);
  }

  PixelKinds total;
  for (int f = 0; f < frameCount; ++f) {
    const PixelKinds counts = session.pixelKinds(f, scan::kNoValue);
    if (counts.unreadable) {
      throw std::runtime_error("cannot read " + path + ": the pixels of frame " +
                               std::to_string(f) + " cannot be read");
    }
    const FrameSizeAndPose frame = session.frame(f);
    if (json) {
      out << (f > 0 ? ",\n  " : "\n  ") << "{\"width\": " << frame.sizeX
          << ", \"height\": " << frame.sizeY << ", " << jsonCounts(counts) << ", \"stored_pose\": ";
      jsonPose(out, frame.pose);
      out << ", \"output_pose\": ";
      const std::optional<Eigen::Matrix4d> pose = frameToOutputPose(scanPose, frame.pose);
      if (pose)
        jsonMatrix(out, [&](int r, int c) { return (*pose)(r, c); });
      else
        out << "null";
      out << '}';
    } else {
      out << "frame " << f << ": " << frame.sizeX << " x " << frame.sizeY << ", "
          << countsText(counts) << "; stored pose\n";
      printPose(out, "    ", frame.pose);
    }
    total += counts;
  }
  if (json) {
    out << "],\n \"total\": {\"frames\": " << frameCount << ", " << jsonCounts(total) << "}}\n";
  } else {
    out << "total: " << countsText(total) << '\n';
  }
}

}  // namespace quarn::tool
