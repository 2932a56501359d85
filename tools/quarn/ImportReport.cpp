#include "ImportReport.h"

#include <string>

#include "Formatted.h"

namespace quarn::tool {

namespace {

std::string outputName(const std::string& path) { return path == "-" ? "standard output" : path; }

}  // namespace

void printImportReport(std::ostream& out, const ConversionReport& report,
                       const ConversionRequest& request) {
  const PointFormat& format = *report.format;
  const std::string& output = request.output;
  const std::string& preview = request.preview;
  const PointBounds& bounds = report.bounds;
  out << "frames  " << report.frames << '\n';
  out << "pixels  " << report.pixels << '\n';
  out << "points  " << report.points;
  if (report.pixels > 0)
    out << " (" << formatted("%.1f", 100.0 * report.points / report.pixels) << " %)";
  out << '\n';
  if (report.voxel) {
    out << "        one for each " << formatted("%g", *report.voxel) << " m cell of "
        << report.voxelPoints << " points\n";
  }
  if (report.nonFinite > 0)
    out << "        " << report.nonFinite << " with a non-finite coordinate left out\n";
  if (report.withoutColour > 0 && report.keptUncoloured) {
    out << "        " << report.withoutColour << " points without a colour kept\n";
  } else if (report.withoutColour > 0) {
    out << "        " << report.withoutColour
        << " points without a colour left out (--keep-uncoloured keeps them)\n";
  }
  if (request.normals) out << "        " << report.withoutNormal << " without a normal\n";
  if (report.scans > kManyScans) {
    out << "        " << report.scans << " scans in the " << format.name
        << ", one a frame: some readers refuse so many (--merge-frames writes one)\n";
  }
  out << "bounds ";
  if (bounds.empty()) out << " no points";
  for (std::size_t i = 0; i < 3 && !bounds.empty(); ++i) {
    out << ' ' << "xyz"[i] << " [" << formatted("%.4f", bounds.low[i]) << ", "
        << formatted("%.4f", bounds.high[i]) << ']';
  }
  out << '\n';
  out << "time    read " << formatted("%.2f", report.readSeconds) << " s, " << format.name << ' '
      << formatted("%.2f", report.writeSeconds) << " s";
  if (!preview.empty()) out << ", preview " << formatted("%.2f", report.previewSeconds) << " s";
  out << '\n' << "wrote   " << outputName(output);
  if (!preview.empty()) out << ", " << outputName(preview);
  out << '\n';
}

}  // namespace quarn::tool
