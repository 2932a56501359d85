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

void checkTrajectoryFormat(const std::string& path) {
  const std::string extension = extensionOf(path);
  if (extension.empty() || extension == ".txt" || extension == ".csv" || extension == ".ply")
    return;
  throw std::invalid_argument("unknown trajectory format '" +
                              std::filesystem::u8path(path).extension().u8string() +
                              "' (known: .txt, .csv, .ply)");
}

void writeTrajectory(const std::string& path, const std::vector<FramePose>& poses,
                     std::ostream& out) {
  checkTrajectoryFormat(path);
  const std::string extension = extensionOf(path);
  if (extension == ".ply") return writePly(poses, out);
  if (extension == ".csv") out << "index,tx,ty,tz,qx,qy,qz,qw\n";
  for (const FramePose& frame : poses) out << poseLine(frame, extension == ".csv" ? ',' : ' ');
}

}  // namespace quarn
