#pragma once

// File names from UTF-8 strings and for the SDK: narrow strings are not UTF-8 on Windows.

#include <filesystem>
#include <string>

namespace quarn {

// A path from UTF-8 text, and back.
std::filesystem::path pathFromUtf8(const std::string& utf8);
std::string pathToUtf8(const std::filesystem::path& path);

// A name of the existing file `utf8` that the SDK's narrow-character open takes: on Windows its
// 8.3 short path when the name has characters outside ASCII (the code page may lack them) and
// the file has one; the name itself otherwise.
std::string sdkPath(const std::string& utf8);

}  // namespace quarn
