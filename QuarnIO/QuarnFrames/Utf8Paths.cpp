#include "Utf8Paths.h"

#if defined(_WIN32)
#include <algorithm>

#include "platform/ShortPath.h"
#endif

namespace quarn {

#if defined(_WIN32)

std::string sdkPath(const std::string& utf8) {
  const auto ascii = [](char c) { return static_cast<unsigned char>(c) < 0x80; };
  std::string shortPath;
  if (std::all_of(utf8.begin(), utf8.end(), ascii) || !alternativeScanPath(utf8.c_str(), shortPath))
    return utf8;
  return shortPath;
}

#else

std::string sdkPath(const std::string& utf8) { return utf8; }

#endif

std::filesystem::path pathFromUtf8(const std::string& utf8) {
  return std::filesystem::u8path(utf8);
}

std::string pathToUtf8(const std::filesystem::path& path) { return path.u8string(); }

}  // namespace quarn
