#include "ProgressLine.h"

#include <string>

#include "Formatted.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace quarn::tool {

bool standardErrorIsTerminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) == 1;
#endif
}

ProgressCallback ProgressLine::callback() {
  if (!shown_) return {};
  return [this](const ConversionProgress& progress) { show(progress); };
}

void ProgressLine::show(const ConversionProgress& progress) {
  if (drawn_ && progress.seconds - lastSeconds_ < 0.1) return;
  lastSeconds_ = progress.seconds;
  std::string line = "\rimport  ";
  if (progress.frames > 0 && progress.framesDone > 0)
    line += "frame " + std::to_string(progress.framesDone) + " of " +
            std::to_string(progress.frames) + ", ";
  line += std::to_string(progress.points) + " points";
  if (progress.seconds > 0)
    line += ", " + formatted("%.1f", progress.points / progress.seconds / 1e6) + " M a second";
  line += "\033[K";  // the rest of a longer line before
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void ProgressLine::clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

}  // namespace quarn::tool
