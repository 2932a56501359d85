#include "ImportRun.h"

#include <sstream>
#include <stdexcept>
#include <vector>

#include "ChildProcess.h"
#include "FinitePoints.h"
#include "QuietStdout.h"
#include "Seconds.h"

namespace quarn::bench {

namespace {

ImportResult checkedResult(const PluginScan& scan) {
  if (scan.points.rows() != 3 || scan.colours.rows() != 3 ||
      scan.colours.cols() != scan.points.cols() || scan.transform.rows() != 4 ||
      scan.transform.cols() != 4) {
    throw std::runtime_error("the plug-in's result is not shaped as the host contract says");
  }
  ImportResult result;
  result.columns = scan.points.cols();
  // The plug-in's tail is NaN, so the finite columns are the points however many it filled.
  result.points = static_cast<std::int64_t>(
      countFinitePoints(scan.points.data(), static_cast<std::size_t>(result.columns)));
  return result;
}

}  // namespace

double timeImport(const PluginLibrary& plugin, const std::string& scan, ImportResult& result) {
  PluginScan imported;
  bool read = false;
  double seconds = 0;
  {
    QuietStdout quiet;
    const Clock::time_point start = Clock::now();
    read = plugin.read(scan, imported);
    seconds = secondsSince(start);
  }
  if (!read) throw std::runtime_error("the plug-in cannot read " + scan);
  result = checkedResult(imported);
  return seconds;
}

PeakMemory measureImportPeak(const std::string& child, const std::string& plugin,
                             const std::string& scan) {
  const std::string text = runChild({child, scan, plugin});
  PeakMemory peak;
  peak.peakBytes = peak.columns = -1;
  std::istringstream lines(text);
  std::string key;
  std::int64_t value = 0;
  while (lines >> key >> value) {
    if (key == "peak_rss_bytes:") peak.peakBytes = value;
    if (key == "rss_before_bytes:") peak.beforeBytes = value;
    if (key == "columns:") peak.columns = value;
  }
  if (peak.peakBytes <= 0 || peak.columns < 0) {
    throw std::runtime_error("the import child process reported no peak memory");
  }
  return peak;
}

}  // namespace quarn::bench
