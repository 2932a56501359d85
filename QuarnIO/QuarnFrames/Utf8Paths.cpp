#include "Utf8Paths.h"

namespace quarn {

std::filesystem::path pathFromUtf8(const std::string& utf8) {
  return std::filesystem::u8path(utf8);
}

std::string pathToUtf8(const std::filesystem::path& path) { return path.u8string(); }

}  // namespace quarn
