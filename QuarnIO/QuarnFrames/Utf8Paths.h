#pragma once

// File names from UTF-8 strings: narrow strings are not UTF-8 on Windows.

#include <filesystem>
#include <string>

namespace quarn {

// A path from UTF-8 text, and back.
std::filesystem::path pathFromUtf8(const std::string& utf8);
std::string pathToUtf8(const std::filesystem::path& path);

}  // namespace quarn
