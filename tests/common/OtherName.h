#pragma once

// The name the plug-in retries a refused scan path under, found here without its code: the
// 8.3 short path on Windows, the canonical absolute path elsewhere. Empty when there is none.
// (Defined out of line: windows.h defines WIN32, which makes TooN's headers add overloads of
// std::isnan that clash with <cmath>'s.)

#include <filesystem>
#include <string>

std::string expectedOtherName(const std::filesystem::path& file);

// True where narrow file names are UTF-8 (Windows set to the UTF-8 code page, and POSIX),
// so that the SDK opens any UTF-8 path without the retry.
bool narrowNamesAreUtf8();
