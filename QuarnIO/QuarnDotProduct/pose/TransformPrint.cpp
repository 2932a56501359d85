#include "TransformPrint.h"

#include <sstream>
#include <string>

namespace {

// Unformatted writes leave the stream's width alone: the host's other threads may be
// printing to the same stream.
void writeAndFlush(std::ostream& out, const std::string& text) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
}

}  // namespace

void printGlobalTransform(std::ostream& out, const TooN::SE3<double>& globalTransform) {
  writeAndFlush(out, "Global scene transform T_g_r =\n");
  // TooN sets the field width before every number; it does so on a stream of this call's own
  // that takes the output stream's number format, with the width 0 a title line leaves.
  std::ostringstream rows;
  rows.flags(out.flags());
  rows.precision(out.precision());
  rows << globalTransform << '\n';
  writeAndFlush(out, rows.str());
}
