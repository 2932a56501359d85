#include "ImportCommand.h"

#include <stdexcept>

#include "ImportReport.h"
#include "ProgressLine.h"
#include "ScanReasons.h"

namespace fs = std::filesystem;

namespace quarn::tool {

fs::path defaultPluginPath(const fs::path& executable) {
  return executable.parent_path() / QUARN_PLUGIN_RELATIVE_DIR / QUARN_PLUGIN_FILE_NAME;
}

void importScan(const ConversionRequest& request, std::ostream* out, std::ostream* notes,
                bool progress) {
  ConversionReport report;
  try {
    ProgressLine line(progress);
    ConversionRequest shown = request;
    shown.progress = line.callback();
    report = convertScan(shown, out, notes);
  } catch (const ScanError& e) {
    throw std::runtime_error("cannot import " + request.scan + ": " + e.what());
  }
  if (out) printImportReport(*out, report, request);
}

}  // namespace quarn::tool
