// quarn._quarn: reads a scan through the plug-in, loaded at run time as a host loads it, into
// matrices this module owns, and shows their storage to numpy in place.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "PluginLibrary.h"
#include "ScanProblem.h"

namespace py = pybind11;

namespace {

class ScanError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One read's matrices, plain Eigen storage from the allocator the plug-in shares with us.
struct Scan {
  PluginScan matrices;
  Eigen::Index valid = 0;  // the columns before the NaN tail
};

// The plug-in puts the valid points first; after them every point is NaN and every colour 0,
// and the host is not told where they end. Colours are an eighth of the bytes, so the tail is
// looked for there, eight bytes at a time: the valid points end at the first NaN point after
// the last coloured column (black ones may come before it).
Eigen::Index validColumns(const Eigen::MatrixXd& points, const ColourMatrix& colours) {
  const unsigned char* bytes = colours.data();
  std::size_t end = static_cast<std::size_t>(std::min(points.cols(), colours.cols())) * 3;
  for (std::uint64_t word = 0; end >= 8; end -= 8) {
    std::memcpy(&word, bytes + end - 8, 8);
    if (word != 0) break;
  }
  while (end > 0 && bytes[end - 1] == 0) --end;
  auto n = static_cast<Eigen::Index>((end + 2) / 3);
  while (n < points.cols() && !points.col(n).hasNaN()) ++n;
  return n;
}

// Why the read failed, in the words quarn import uses; empty when it succeeded.
std::string readInto(const std::string& path, const std::string& plugin, Scan& scan) {
  std::string problem = quarn::importProblem(path);
  if (!problem.empty()) return problem;
  std::unique_ptr<PluginLibrary> library;
  try {
    library = std::make_unique<PluginLibrary>(plugin);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  problem = quarn::readThroughPlugin(*library, path, scan.matrices);
  if (!problem.empty()) return problem;
  scan.valid = validColumns(scan.matrices.points, scan.matrices.colours);
  return std::string();
}

std::unique_ptr<Scan> readScan(const std::string& path, const std::string& plugin) {
  // A C string would end at the NUL and name another file.
  if (path.find('\0') != std::string::npos || plugin.find('\0') != std::string::npos) {
    throw py::value_error("a path with a NUL character");
  }
  auto scan = std::make_unique<Scan>();
  std::string problem;
  {
    py::gil_scoped_release unlocked;  // other Python threads run during the read
    problem = readInto(path, plugin, *scan);
  }
  if (!problem.empty()) throw ScanError("cannot read " + path + ": " + problem);
  return scan;
}

// A view of `rows` x `columns` elements of `data` kept alive by the Scan `owner`.
template <typename T>
py::array view(const py::object& owner, const T* data, Eigen::Index rows, Eigen::Index columns,
               py::ssize_t rowStride, py::ssize_t columnStride) {
  return py::array_t<T>({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(columns)},
                        {rowStride * py::ssize_t{sizeof(T)}, columnStride * py::ssize_t{sizeof(T)}},
                        data, owner);
}

const Scan& scanOf(const py::object& self) { return self.cast<const Scan&>(); }

}  // namespace

PYBIND11_MODULE(_quarn, m) {
  m.doc() = "Scans read through the QuarnDotProduct plug-in (use the quarn package)";
  py::register_exception<ScanError>(m, "ScanError");

  // Columns of the 3 x N column-major storage are the rows of the n x 3 views.
  py::class_<Scan>(m, "Scan", "One scan read through the plug-in; its arrays view its storage")
      .def_property_readonly(
          "points",
          [](const py::object& self) {
            const Scan& s = scanOf(self);
            return view(self, s.matrices.points.data(), s.valid, 3, 3, 1);
          },
          "n x 3 float64: the valid pixels' points, metres, in the scan's coordinates")
      .def_property_readonly(
          "colours",
          [](const py::object& self) {
            const Scan& s = scanOf(self);
            return view(self, s.matrices.colours.data(), s.valid, 3, 3, 1);
          },
          "n x 3 uint8: the same pixels' colours")
      .def_property_readonly(
          "transform",
          [](const py::object& self) {
            const Eigen::MatrixXd& t = scanOf(self).matrices.transform;
            return view(self, t.data(), t.rows(), t.cols(), 1, t.rows());
          },
          "4 x 4 float64: the scan's transform as the plug-in gives it")
      .def_property_readonly(
          "pixels", [](const Scan& s) { return std::int64_t{s.matrices.points.cols()}; },
          "the scan's pixel count, valid or not")
      .def("__repr__", [](const Scan& s) {
        return "<quarn.Scan: " + std::to_string(s.valid) + " points of " +
               std::to_string(s.matrices.points.cols()) + " pixels>";
      });

  m.def("read", &readScan, py::arg("path"), py::arg("plugin"),
        "Reads the scan at `path` through the plug-in library at `plugin`; raises ScanError");
}
