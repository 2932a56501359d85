#include "WholeRead.h"

#include <cmath>

#include "ConsoleMode.h"
#include "ScanReasons.h"
#include "ScanSession.h"

namespace quarn {

void readWhole(const PluginLibrary& plugin, const std::string& scan, WholeRead& out, bool quiet) {
  bool read;
  {
    ConsoleMode console(quiet);
    read = plugin.readDotProductNumberOfScans(scan.c_str()) >= 1;
    if (!read) throw ScanError("the plug-in finds no scan in it");
    read = plugin.read(scan, out.matrices);
  }
  if (!read) {
    // The file may have changed, or the plug-in's own code and threads took the memory.
    const std::string problem = findImportProblem(scan).reason;
    throw ScanError(problem.empty() ? "the plug-in cannot read it (a pose that is singular, "
                                      "mirrored or not finite, or unreadable pixels)"
                                    : problem);
  }
}

void countColumns(const std::string& scan, WholeRead& read) {
  ScanSession session(scan);
  const PixelKinds kinds = session.status() == 0 ? session.pixelKinds() : PixelKinds{};
  const std::int64_t columns = session.status() == 0 ? kinds.withBoth : -1;
  const Eigen::MatrixXd& points = read.matrices.points;
  // The first column after the filled ones is the plug-in's NaN tail.
  if (columns < 0 || columns > points.cols() ||
      (columns < points.cols() && !std::isnan(points(0, columns))))
    throw ScanError("the scan changed while it was read");
  read.columns = columns;
  read.withoutColour = static_cast<std::uint64_t>(kinds.withPoint - kinds.withBoth);
  read.frames = session.frameCount();
}

}  // namespace quarn
