#include "PointFormat.h"

#include <cctype>
#include <filesystem>
#include <stdexcept>

#include "PointWriter.h"

namespace quarn {

namespace {

// The extension as the user wrote it, from a UTF-8 name.
std::string extensionOf(const std::string& path) {
  return std::filesystem::u8path(path).extension().u8string();
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::invalid_argument unknownFormat(const std::string& path, const std::string& known) {
  return std::invalid_argument("unknown output format '" + extensionOf(path) +
                               "' (known: " + known + ")");
}

// The first is the format of a name without an extension.
const PointFormat kFormats[] = {
    {".ply", "PLY", true, false, false, false, makePlyWriter},
    {".pcd", "PCD", true, false, false, false, makePcdWriter},
    {".xyz", "XYZ", false, false, false, false, makeXyzWriter},
    {".e57", "E57", false, true, true, true, makeE57Writer},
    {".las", "LAS", true, true, true, false, makeLasWriter},
    {".laz", "LAZ", true, true, true, false, makeLazWriter},
};

}  // namespace

const PointFormat& pointFormatOf(const std::string& path) {
  const std::string extension = lowerCase(extensionOf(path));
  if (extension.empty()) return kFormats[0];
  std::string known;
  for (const PointFormat& format : kFormats) {
    if (extension == format.extension) return format;
    known += (known.empty() ? "" : ", ") + std::string(format.extension);
  }
  throw unknownFormat(path, known);
}

const PointFormat& pointFormatOf(const std::string& path, const std::string& name,
                                 const std::string& option) {
  if (name.empty()) return pointFormatOf(path);
  for (const PointFormat& format : kFormats) {
    if (lowerCase(name) != format.extension + 1) continue;
    // Only a known extension of another format contradicts the name: "points.dat" is anything.
    const std::string extension = lowerCase(extensionOf(path));
    for (const PointFormat& other : kFormats) {
      if (extension == other.extension && &other != &format) {
        throw std::invalid_argument(option + " " + name + ", but " + path + " names " + other.name);
      }
    }
    return format;
  }
  throw std::invalid_argument(option + ": unknown format '" + name + "' (known: " + [] {
    std::string known;
    for (const std::string& n : pointFormatNames()) known += (known.empty() ? "" : ", ") + n;
    return known;
  }() + ")");
}

std::vector<std::string> pointFormatNames() {
  std::vector<std::string> names;
  for (const PointFormat& format : kFormats) names.emplace_back(format.extension + 1);
  return names;
}

void checkPictureFormat(const std::string& path) {
  const std::string extension = lowerCase(extensionOf(path));
  if (!extension.empty() && extension != ".png") throw unknownFormat(path, ".png");
}

}  // namespace quarn
