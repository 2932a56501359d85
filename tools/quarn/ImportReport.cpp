#include "ImportReport.h"

#include <string>

#include "Formatted.h"

namespace quarn::tool {

namespace {

std::string outputName(const std::string& path) { return path == "-" ? "standard output" : path; }

}  // namespace

void printImportReport(std::ostream& out, const ImportReport& report, PointFormat format,
                       const std::string& output, const std::string& preview) {
  const PointBounds& bounds = report.bounds;
  if (report.frames) out << "frames  " << *report.frames << '\n';
  out << "pixels  " << report.pixels << '\n';
  out << "points  " << bounds.count;
  if (report.pixels > 0)
    out << " (" << formatted("%.1f", 100.0 * bounds.count / report.pixels) << " %)";
  out << '\n';
  out << "bounds ";
  if (bounds.count == 0) out << " no points";
  for (std::size_t i = 0; i < 3 && bounds.count > 0; ++i) {
    out << ' ' << "xyz"[i] << " [" << formatted("%.4f", bounds.low[i]) << ", "
        << formatted("%.4f", bounds.high[i]) << ']';
  }
  out << '\n';
  out << "time    read " << formatted("%.2f", report.readSeconds) << " s, " << formatName(format)
      << ' ' << formatted("%.2f", report.writeSeconds) << " s";
  if (!preview.empty()) out << ", preview " << formatted("%.2f", report.previewSeconds) << " s";
  out << '\n' << "wrote   " << outputName(output);
  if (!preview.empty()) out << ", " << outputName(preview);
  out << '\n';
}

}  // namespace quarn::tool
