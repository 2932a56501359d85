#pragma once

// The few things the tool does differently per platform: its arguments as UTF-8, its own
// location, and file names from UTF-8 strings and for the SDK.

#include <filesystem>
#include <string>
#include <vector>

namespace quarn::tool {

// The command line as UTF-8 strings. On Windows `argv` is in the ANSI code page, so the
// wide command line is converted instead; elsewhere `argv` is taken as it is.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// The running executable's absolute path, or `fallback` made absolute when the platform
// cannot tell.
std::filesystem::path executablePath(const std::string& fallback);

// A path from UTF-8 text, and back: narrow strings are not UTF-8 on Windows.
std::filesystem::path pathFromUtf8(const std::string& utf8);
std::string pathToUtf8(const std::filesystem::path& path);

// A name of the existing file `utf8` that the SDK's narrow-character open takes: on Windows its
// 8.3 short path when the name has characters outside ASCII (the code page may lack them) and
// the file has one; the name itself otherwise.
std::string sdkPath(const std::string& utf8);

}  // namespace quarn::tool
