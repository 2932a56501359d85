#include "PointFormat.h"

#include <cctype>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "CopcWriter.h"
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
    {".copc.laz", "COPC", true, true, true, false, makeCopcWriter},
};

// The name --format takes: the extension's first part ("copc" for ".copc.laz").
std::string formatName(const PointFormat& format) {
  const std::string extension = format.extension + 1;
  return extension.substr(0, extension.find('.'));
}

// The format of the longest known extension `path`'s name ends in ("x.copc.laz" is COPC, not
// LAZ), in any case; none for a name without an extension.
const PointFormat* knownFormat(const std::string& path) {
  if (extensionOf(path).empty()) return nullptr;
  const std::string name = lowerCase(std::filesystem::u8path(path).filename().u8string());
  const PointFormat* found = nullptr;
  for (const PointFormat& format : kFormats) {
    const std::size_t size = std::strlen(format.extension);
    if (name.size() > size && name.compare(name.size() - size, size, format.extension) == 0 &&
        (found == nullptr || size > std::strlen(found->extension)))
      found = &format;
  }
  return found;
}

}  // namespace

const PointFormat& pointFormatOf(const std::string& path) {
  if (extensionOf(path).empty()) return kFormats[0];
  if (const PointFormat* format = knownFormat(path)) return *format;
  std::string known;
  for (const PointFormat& format : kFormats)
    known += (known.empty() ? "" : ", ") + std::string(format.extension);
  throw unknownFormat(path, known);
}

const PointFormat& pointFormatOf(const std::string& path, const std::string& name,
                                 const std::string& option) {
  if (name.empty()) return pointFormatOf(path);
  for (const PointFormat& format : kFormats) {
    if (lowerCase(name) != formatName(format)) continue;
    // Only a known extension of another format contradicts the name: "points.dat" is anything.
    const PointFormat* other = knownFormat(path);
    if (other != nullptr && other != &format)
      throw std::invalid_argument(option + " " + name + ", but " + path + " names " + other->name);
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
  for (const PointFormat& format : kFormats) names.push_back(formatName(format));
  return names;
}

void checkPictureFormat(const std::string& path) {
  const std::string extension = lowerCase(extensionOf(path));
  if (!extension.empty() && extension != ".png") throw unknownFormat(path, ".png");
}

}  // namespace quarn
