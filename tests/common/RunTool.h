#pragma once

// Runs a built program as a separate process, as a user does, capturing what it prints.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "TestScans.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif

struct ToolRun {
  int exitCode;
  std::string out, err;
};

// Runs `program` with `arguments` (each quoted), its output captured in files under `scratch`.
inline ToolRun runTool(const std::string& program, const std::vector<std::string>& arguments,
                       const std::filesystem::path& scratch) {
  const std::string out = (scratch / "tool-stdout.txt").string();
  const std::string err = (scratch / "tool-stderr.txt").string();
  std::string command = "\"" + program + "\"";
  for (const std::string& argument : arguments) command += " \"" + argument + "\"";
  command += " > \"" + out + "\" 2> \"" + err + "\"";
#if defined(_WIN32)
  const int exitCode = std::system(("\"" + command + "\"").c_str());  // cmd strips one pair
#else
  const int status = std::system(command.c_str());
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  ToolRun run{exitCode, quarn::test::readText(out), quarn::test::readText(err)};
  // The C runtime ends text lines with CR LF on Windows.
  for (std::string* text : {&run.out, &run.err})
    text->erase(std::remove(text->begin(), text->end(), '\r'), text->end());
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}
