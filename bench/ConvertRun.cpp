#include "ConvertRun.h"

#include <sstream>
#include <stdexcept>

#include "ChildProcess.h"

namespace quarn::bench {

MeasuredRun runMeasured(const std::string& measurer, const std::vector<std::string>& command) {
  std::vector<std::string> arguments = {measurer};
  arguments.insert(arguments.end(), command.begin(), command.end());
  std::istringstream lines(runChild(arguments));
  MeasuredRun run;
  run.seconds = run.peakBytes = -1;
  std::string key;
  double value = 0;
  while (lines >> key >> value) {
    if (key == "seconds:") run.seconds = value;
    if (key == "peak_rss_bytes:") run.peakBytes = static_cast<std::int64_t>(value);
  }
  if (run.seconds < 0 || run.peakBytes <= 0)
    throw std::runtime_error(command[0] + " ran, but its time and memory were not reported");
  return run;
}

}  // namespace quarn::bench
