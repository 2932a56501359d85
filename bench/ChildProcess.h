#pragma once

// Runs a program of the benchmark's own as a child process and collects what it prints.

#include <string>
#include <vector>

namespace quarn::bench {

// Runs `arguments` (the first a path) with `environment` (NAME=VALUE entries, or the
// benchmark's own when empty) and returns its standard output. Throws std::runtime_error when
// it cannot be started or does not exit with 0.
std::string runChild(std::vector<std::string> arguments, std::vector<std::string> environment = {});

}  // namespace quarn::bench
