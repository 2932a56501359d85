#include "Trajectory.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "PointWriter.h"
#include "PoseText.h"

namespace quarn {

namespace {

std::string extensionOf(const std::string& path) {
  std::string extension = std::filesystem::u8path(path).extension().u8string();
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

// index tx ty tz qx qy qz qw, joined by `separator`.
std::string poseLine(const FramePose& frame, char separator) {
  const Eigen::Matrix<double, 4, 4, Eigen::RowMajor> byRows = frame.pose;
  const double* rows = byRows.data();
  const std::array<double, 4> q = quaternion(rows);  // w, x, y, z
  std::string line = std::to_string(frame.index);
  for (const double value : {rows[3], rows[7], rows[11], q[1], q[2], q[3], q[0]})
    line += separator + number(value);
  return line + '\n';
}

template <class T>
void putLittleEndian(std::ostream& out, T value) {
  unsigned char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  if (!kLittleEndian) std::reverse(bytes, bytes + sizeof value);
  out.write(reinterpret_cast<const char*>(bytes), sizeof value);
}

void writePly(const std::vector<FramePose>& poses, std::ostream& out) {
  const std::size_t edges = poses.empty() ? 0 : poses.size() - 1;
  out << "ply\nformat binary_little_endian 1.0\ncomment the scanner's path, written by quarn\n"
      << "element vertex " << poses.size()
      << "\nproperty double x\nproperty double y\nproperty double z\n"
      << "element edge " << edges << "\nproperty int vertex1\nproperty int vertex2\nend_header\n";
  for (const FramePose& frame : poses)
    for (int i = 0; i < 3; ++i) putLittleEndian(out, frame.pose(i, 3));
  for (std::size_t e = 0; e < edges; ++e) {
    putLittleEndian(out, static_cast<std::int32_t>(e));
    putLittleEndian(out, static_cast<std::int32_t>(e + 1));
  }
}

}  // namespace

namespace {

struct TrajectoryName {
  const char* extension;
  const char* name;
  TrajectoryFormat format;
};
// The first is the format of a name without an extension.
constexpr TrajectoryName kTrajectoryFormats[] = {{".txt", "TUM text", TrajectoryFormat::tum},
                                                 {".csv", "CSV", TrajectoryFormat::csv},
                                                 {".ply", "PLY", TrajectoryFormat::ply}};

const TrajectoryName* knownExtension(const std::string& path) {
  const std::string extension = extensionOf(path);
  for (const TrajectoryName& known : kTrajectoryFormats) {
    if (extension == known.extension) return &known;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string> trajectoryFormatNames() {
  std::vector<std::string> names;
  for (const TrajectoryName& known : kTrajectoryFormats) names.emplace_back(known.extension + 1);
  return names;
}

TrajectoryFormat trajectoryFormatOf(const std::string& path, const std::string& name) {
  const TrajectoryName* byExtension = knownExtension(path);
  if (name.empty()) {
    if (byExtension != nullptr) return byExtension->format;
    if (extensionOf(path).empty()) return TrajectoryFormat::tum;
    throw std::invalid_argument("unknown trajectory format '" +
                                std::filesystem::u8path(path).extension().u8string() +
                                "' (known: .txt, .csv, .ply)");
  }
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const TrajectoryName& known : kTrajectoryFormats) {
    if (lower != known.extension + 1) continue;
    if (byExtension != nullptr && byExtension != &known) {
      throw std::invalid_argument("--format " + name + ", but " + path + " names " +
                                  byExtension->name);
    }
    return known.format;
  }
  throw std::invalid_argument("--format: unknown trajectory format '" + name +
                              "' (known: txt, csv, ply)");
}

void writeTrajectory(TrajectoryFormat format, const std::vector<FramePose>& poses,
                     std::ostream& out) {
  if (format == TrajectoryFormat::ply) return writePly(poses, out);
  if (format == TrajectoryFormat::csv) out << "index,tx,ty,tz,qx,qy,qz,qw\n";
  for (const FramePose& frame : poses)
    out << poseLine(frame, format == TrajectoryFormat::csv ? ',' : ' ');
}

}  // namespace quarn
