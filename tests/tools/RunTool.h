#pragma once

// Runs the built quarn as a separate process, as a user does, capturing what it prints.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ScratchDir.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

namespace quarn::tool::test {

struct ToolRun {
  int exitCode;
  std::string out, err;
};

inline std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs quarn with `arguments` (each quoted), its output captured in files under `scratch`.
inline ToolRun runTool(const std::vector<std::string>& arguments,
                       const std::filesystem::path& scratch) {
  const std::filesystem::path out = scratch / "tool-stdout.txt", err = scratch / "tool-stderr.txt";
  std::string command = "\"" QUARN_TOOL_PATH "\"";
  for (const std::string& argument : arguments) command += " \"" + argument + "\"";
  command += " > \"" + out.string() + "\" 2> \"" + err.string() + "\"";
#if defined(_WIN32)
  const int exitCode = std::system(("\"" + command + "\"").c_str());  // cmd strips one pair
#else
  const int status = std::system(command.c_str());
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  ToolRun run{exitCode, readText(out), readText(err)};
#if defined(_WIN32)
  // The C runtime ends the tool's text lines with CR LF here.
  for (std::string* text : {&run.out, &run.err})
    text->erase(std::remove(text->begin(), text->end(), '\r'), text->end());
#endif
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

using ::ScratchDir;

}  // namespace quarn::tool::test
