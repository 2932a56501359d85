#include <filesystem>
#include <system_error>

#include "ShortPath.h"

// No short names here; the canonical absolute path is the file's other name, and like a
// short path it exists only for a file that exists.
bool alternativeScanPath(const char* path, std::string& alternative) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::canonical(path, error);
  if (error) return false;
  alternative = canonical.string();
  return true;
}
