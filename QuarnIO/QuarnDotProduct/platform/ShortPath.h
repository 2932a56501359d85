#pragma once

#include <string>

// The second name under which the scan at `path` (UTF-8) is tried when the SDK refuses the
// first: the 8.3 short path on Windows, the canonical absolute path elsewhere. False when
// the platform has no such name for it (for example when the file does not exist).
bool alternativeScanPath(const char* path, std::string& alternative);
