#include "PythonRead.h"

#include <cstring>
#include <regex>
#include <stdexcept>
#include <vector>

#include "ChildProcess.h"

extern char** environ;

namespace quarn::bench {

double timePythonRead(const std::string& scan, const std::string& plugin, std::int64_t pixels) {
  std::vector<std::string> environment = {"PYTHONPATH=" QUARN_BENCH_PYTHONPATH};
  for (char** variable = environ; *variable != nullptr; ++variable) {
    if (std::strncmp(*variable, "PYTHONPATH=", 11) != 0) environment.emplace_back(*variable);
  }
  const std::string text = runChild(
      {QUARN_BENCH_PYTHON, QUARN_BENCH_PYTHON_SCRIPT, scan, plugin, "1"}, std::move(environment));
  std::smatch found;
  if (!std::regex_search(text, found, std::regex("python_read_seconds: (\\S+) pixels: (\\d+)"))) {
    throw std::runtime_error("the Python read failed (" QUARN_BENCH_PYTHON_SCRIPT ")");
  }
  if (std::stoll(found[2]) != pixels) throw std::runtime_error("the Python read read another scan");
  return std::stod(found[1]);
}

}  // namespace quarn::bench
