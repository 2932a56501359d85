#pragma once

// The few things the tool does differently per platform: its arguments as UTF-8 and its own
// location. File names from UTF-8 strings and for the SDK are the library's.

#include <filesystem>
#include <string>
#include <vector>

#include "Utf8Paths.h"

namespace quarn::tool {

// The command line as UTF-8 strings. On Windows `argv` is in the ANSI code page, so the
// wide command line is converted instead; elsewhere `argv` is taken as it is.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// The running executable's absolute path, or `fallback` made absolute when the platform
// cannot tell.
std::filesystem::path executablePath(const std::string& fallback);

using quarn::pathFromUtf8;
using quarn::pathToUtf8;

}  // namespace quarn::tool
