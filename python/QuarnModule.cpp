// quarn._quarn: reads a scan through the plug-in, loaded at run time as a host loads it, into
// matrices this module owns, and shows their storage to numpy in place; or frame by frame, by
// the frame reader; or converts it to a point file by quarn import's own pipeline.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "FinitePoints.h"
#include "FrameReader.h"
#include "OutputFile.h"
#include "PluginLibrary.h"
#include "PointFormat.h"
#include "PointWriter.h"
#include "ScanConversion.h"
#include "ScanReasons.h"
#include "WholeRead.h"

namespace py = pybind11;

namespace {

// One read's matrices, plain Eigen storage from the allocator the plug-in shares with us (or
// an unpickled copy of the points).
struct Scan {
  PluginScan matrices;
  Eigen::Index valid = 0;   // the points: the filled columns with finite coordinates, first
  Eigen::Index pixels = 0;  // valid or not
  std::vector<std::uint8_t> colourless;  // 1 for each point without a colour; empty: none
};

// Why the read failed, in the words quarn import uses; empty when it succeeded.
std::string readInto(const std::string& path, const std::string& plugin, bool quiet, Scan& scan) {
  const std::string problem = quarn::findImportProblem(path).reason;
  if (!problem.empty()) return problem;
  try {
    const PluginLibrary library(plugin);
    quarn::WholeRead read;
    quarn::readWhole(library, path, read, quiet);
    scan.matrices = std::move(read.matrices);
    // The points in place, counted: the plug-in's tail is NaN, so the finite columns are the
    // points however many it filled. Nothing moves unless a filled column is not finite.
    scan.valid = static_cast<Eigen::Index>(
        quarn::keepFinitePoints(scan.matrices.points.data(), scan.matrices.colours.data(),
                                static_cast<std::size_t>(scan.matrices.points.cols())));
  } catch (const std::runtime_error& e) {  // ScanError, or the plug-in that does not load
    return e.what();
  }
  scan.pixels = scan.matrices.points.cols();
  return std::string();
}

// A frame's finite points, moved up with their colours and flags (all 0 where the reader does
// not keep the points without a colour).
void keepFinite(quarn::Frame& frame) {
  frame.colourless.resize(frame.size(), 0);
  const bool normals = !frame.normals.empty();
  const std::size_t kept = quarn::keepFinitePoints(
      frame.points.data(), frame.size(), [&](std::size_t from, std::size_t to) {
        std::copy_n(&frame.points[3 * from], 3, &frame.points[3 * to]);
        std::copy_n(&frame.colours[3 * from], 3, &frame.colours[3 * to]);
        frame.colourless[to] = frame.colourless[from];
        if (normals) std::copy_n(&frame.normals[3 * from], 3, &frame.normals[3 * to]);
      });
  frame.points.resize(3 * kept);
  frame.colours.resize(3 * kept);
  frame.colourless.resize(kept);
  if (normals) frame.normals.resize(3 * kept);
}

// The same read frame by frame, with the points without a colour (black, flagged): the
// plug-in's read leaves them out. The matrices are sized for every pixel, as the plug-in's.
std::string readFramesInto(const std::string& path, Scan& scan) {
  try {
    quarn::FrameReader reader(path);
    reader.keepUncoloured(true);
    const std::uint64_t pixels = reader.pixelCount();
    scan.pixels = static_cast<Eigen::Index>(pixels);
    scan.matrices.points.resize(3, scan.pixels);
    scan.matrices.colours.resize(3, scan.pixels);
    scan.colourless.resize(pixels);
    scan.matrices.transform.resize(4, 4);
    writeTransformMatrix(reader.globalPose(), scan.matrices.transform);
    quarn::Frame frame;
    std::size_t n = 0;
    for (int f = 0; f < reader.frameCount(); ++f) {
      reader.read(f, frame);
      keepFinite(frame);
      if (frame.size() > pixels - n) throw quarn::ScanError("the scan changed while it was read");
      std::copy(frame.points.begin(), frame.points.end(), scan.matrices.points.data() + 3 * n);
      std::copy(frame.colours.begin(), frame.colours.end(), scan.matrices.colours.data() + 3 * n);
      std::copy(frame.colourless.begin(), frame.colourless.end(), &scan.colourless[n]);
      n += frame.size();
    }
    scan.valid = static_cast<Eigen::Index>(n);
    scan.colourless.resize(n);
  } catch (const quarn::ScanError& e) {
    return e.what();
  }
  return std::string();
}

// Raises quarn.ScanError for `reason`, with the errno a Python user catches it by
// (FileNotFoundError, IsADirectoryError) where one fits.
[[noreturn]] void raiseScanError(const std::string& path, const std::string& reason) {
  int code = 0;
  if (reason == "no such file") code = ENOENT;
  if (reason == "it is a directory") code = EISDIR;
  if (reason.rfind("needs ", 0) == 0) code = ENOMEM;  // "needs 83 MB of memory, ..."
  py::object error = py::module_::import("quarn").attr("_scan_error")(
      code ? py::object(py::int_(code)) : py::object(py::none()), reason, py::bytes(path));
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
  throw py::error_already_set();
}

// A C string would end at the NUL and name another file.
void checkPath(const std::string& path) {
  if (path.find('\0') != std::string::npos) throw py::value_error("a path with a NUL character");
}

std::unique_ptr<Scan> readScan(const std::string& path, const std::string& plugin, bool quiet,
                               bool keepUncoloured) {
  checkPath(path);
  checkPath(plugin);
  auto scan = std::make_unique<Scan>();
  std::string problem;
  {
    py::gil_scoped_release unlocked;  // other Python threads run during the read
    problem = keepUncoloured ? readFramesInto(path, *scan) : readInto(path, plugin, quiet, *scan);
  }
  if (!problem.empty()) raiseScanError(path, problem);
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

// A Scan of copies of pickled arrays, as their views showed them.
std::unique_ptr<Scan> unpickle(const py::tuple& state) {
  constexpr int Rows = py::array::c_style | py::array::forcecast;
  const auto points = state[0].cast<py::array_t<double, Rows>>();
  const auto colours = state[1].cast<py::array_t<std::uint8_t, Rows>>();
  const auto transform = state[2].cast<py::array_t<double, Rows>>();
  // Pickled before points without a colour were kept: four items.
  auto uncoloured = py::array_t<bool, Rows>(points.ndim() == 2 ? points.shape(0) : 0);
  if (state.size() > 4) {
    uncoloured = state[4].cast<py::array_t<bool, Rows>>();
  } else {
    std::fill_n(uncoloured.mutable_data(), uncoloured.size(), false);
  }
  if (uncoloured.ndim() != 1 || uncoloured.shape(0) != points.shape(0) || points.ndim() != 2 ||
      points.shape(1) != 3 || colours.ndim() != 2 || colours.shape(0) != points.shape(0) ||
      colours.shape(1) != 3 || transform.ndim() != 2) {
    throw py::value_error("not a pickled quarn.Scan");
  }
  auto scan = std::make_unique<Scan>();
  scan->valid = points.shape(0);
  scan->pixels = state[3].cast<Eigen::Index>();
  // An n x 3 row-major array is the 3 x n column-major matrix.
  scan->matrices.points = Eigen::Map<const Eigen::MatrixXd>(points.data(), 3, scan->valid);
  scan->matrices.colours = Eigen::Map<const ColourMatrix>(colours.data(), 3, scan->valid);
  scan->matrices.transform =
      Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
          transform.data(), transform.shape(0), transform.shape(1));
  const bool* flags = uncoloured.data();
  if (std::any_of(flags, flags + uncoloured.size(), [](bool b) { return b; }))
    scan->colourless.assign(flags, flags + uncoloured.size());
  return scan;
}

// The 16 values of `pose` row by row, as numpy lays a 4 x 4 out.
void putRows(const Eigen::Matrix4d& pose, double* out) {
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) *out++ = pose(r, c);
  }
}

// Opens `path` into `reader`; why it cannot, empty when it opened.
std::string openFrames(const std::string& path, std::unique_ptr<quarn::FrameReader>& reader) {
  try {
    reader = std::make_unique<quarn::FrameReader>(path);
  } catch (const quarn::ScanError& e) {
    return e.what();
  }
  return std::string();
}

// A scan's frames, one after the other, each in arrays of its own made by `makeFrame`: the
// reader's storage is reused, never a frame the user kept. The reader prints nothing.
class Frames {
 public:
  Frames(const std::string& path, py::object makeFrame, bool keepUncoloured, bool normals)
      : path_(path), makeFrame_(std::move(makeFrame)), normals_(normals) {
    checkPath(path);
    std::string problem;
    {
      py::gil_scoped_release unlocked;
      problem = openFrames(path, reader_);
    }
    if (!problem.empty()) raiseScanError(path, problem);
    reader_->keepUncoloured(keepUncoloured);
    reader_->makeNormals(normals);
  }

  int count() const { return reader_->frameCount(); }
  int next() const { return next_; }

  // The next frame; a frame that raises is passed over by the next call.
  py::object readNext() {
    // As a generator does, rather than one thread's frame in another's arrays.
    if (busy_) throw py::value_error("frames: the next frame is being read in another thread");
    if (next_ >= count()) throw py::stop_iteration();
    busy_ = true;
    struct Busy {
      bool& flag;
      ~Busy() { flag = false; }
    } busy{busy_};
    const int f = next_++;
    Eigen::Matrix4d pose;
    std::string problem;
    {
      py::gil_scoped_release unlocked;
      try {
        reader_->read(f, frame_);
        pose = reader_->framePose(frame_);
        keepFinite(frame_);
      } catch (const quarn::ScanError& e) {
        problem = e.what();
      }
    }
    if (!problem.empty()) raiseScanError(path_, problem);
    const auto n = static_cast<py::ssize_t>(frame_.size());
    py::array_t<double> points({n, py::ssize_t{3}}), matrix({4, 4});
    py::array_t<std::uint8_t> colours({n, py::ssize_t{3}});
    py::array_t<bool> uncoloured(n);
    std::transform(frame_.colourless.begin(), frame_.colourless.end(), uncoloured.mutable_data(),
                   [](std::uint8_t flag) { return flag != 0; });
    double* xyz = points.mutable_data();
    std::uint8_t* bytes = colours.mutable_data();
    {
      py::gil_scoped_release unlocked;  // single to double precision, once
      std::copy(frame_.points.begin(), frame_.points.end(), xyz);
      std::copy(frame_.colours.begin(), frame_.colours.end(), bytes);
    }
    putRows(pose, matrix.mutable_data());
    if (!normals_) return makeFrame_(f, points, colours, matrix, uncoloured);
    py::array_t<double> normals({n, py::ssize_t{3}});
    std::copy(frame_.normals.begin(), frame_.normals.end(), normals.mutable_data());
    return makeFrame_(f, points, colours, matrix, uncoloured, normals);
  }

 private:
  std::string path_;
  py::object makeFrame_;
  std::unique_ptr<quarn::FrameReader> reader_;
  bool normals_;
  quarn::Frame frame_;
  int next_ = 0;
  bool busy_ = false;
};

// Every frame's pose, F x 4 x 4, from the frames' headers.
py::array trajectory(const std::string& path) {
  checkPath(path);
  std::vector<double> rows;
  std::string problem;
  {
    py::gil_scoped_release unlocked;
    try {
      quarn::FrameReader reader(path);
      rows.resize(16 * static_cast<std::size_t>(reader.frameCount()));
      for (int f = 0; f < reader.frameCount(); ++f)
        putRows(reader.framePose(f), &rows[std::size_t{16} * f]);
    } catch (const quarn::ScanError& e) {
      problem = e.what();
    }
  }
  if (!problem.empty()) raiseScanError(path, problem);
  py::array_t<double> poses(
      {static_cast<py::ssize_t>(rows.size() / 16), py::ssize_t{4}, py::ssize_t{4}});
  std::copy(rows.begin(), rows.end(), poses.mutable_data());
  return poses;
}

// quarn import's conversion: the same pipeline, so the same bytes. The plug-in's lines are
// muted; the report comes back as a dict.
py::dict convert(const std::string& scan, const std::string& output, const std::string& preview,
                 const std::string& plugin, bool pluginNamed, int read, const std::string& format,
                 bool keepUncoloured, std::optional<double> voxel, bool mergeFrames, bool normals) {
  for (const std::string* path : {&scan, &output, &preview, &plugin}) checkPath(*path);
  quarn::ConversionRequest request;
  request.scan = scan;
  request.output = output;
  request.preview = preview;
  request.plugin = plugin;
  request.pluginNamed = pluginNamed;
  request.read = static_cast<quarn::ConversionRequest::Read>(read);
  request.format = format;
  request.keepUncoloured = keepUncoloured;
  request.voxel = voxel;
  request.mergeFrames = mergeFrames;
  request.normals = normals;
  request.quiet = true;
  request.caller = quarn::ConversionRequest::Caller::python;
  quarn::ConversionReport report;
  std::string problem;
  {
    py::gil_scoped_release unlocked;
    try {
      report = quarn::convertScan(request, nullptr, nullptr);
    } catch (const quarn::ScanError& e) {
      problem = e.what();
    } catch (const quarn::output::OutputFileError&) {
      throw;  // an OSError of the output's, below
    } catch (const quarn::PointFormatError& e) {
      throw py::value_error(e.what());  // points the format asked for cannot hold
    } catch (const std::invalid_argument&) {
      throw;
    } catch (const std::runtime_error& e) {  // the plug-in that does not load
      problem = e.what();
    }
  }
  if (!problem.empty()) raiseScanError(scan, problem);
  py::dict result;
  result["frames"] = report.frames;
  result["pixels"] = report.pixels;
  result["points"] = report.points;
  result["non_finite"] = report.nonFinite;
  result["without_colour"] = report.withoutColour;
  result["frame_by_frame"] = report.frameByFrame;
  result["scans"] = report.scans;
  result["without_normal"] = report.withoutNormal;
  return result;
}

}  // namespace

PYBIND11_MODULE(_quarn, m) {
  m.doc() = "Scans read through the QuarnDotProduct plug-in (use the quarn package)";
  // Columns of the 3 x N column-major storage are the rows of the n x 3 views.
  py::class_<Scan>(m, "Scan", "One scan read through the plug-in; its arrays view its storage")
      .def_property_readonly(
          "points",
          [](const py::object& self) {
            const Scan& s = scanOf(self);
            return view(self, s.matrices.points.data(), s.valid, 3, 3, 1);
          },
          "n x 3 float64: the points (pixels with a point and a colour, finite), metres, in\n"
          "output coordinates")
      .def_property_readonly(
          "colours",
          [](const py::object& self) {
            const Scan& s = scanOf(self);
            return view(self, s.matrices.colours.data(), s.valid, 3, 3, 1);
          },
          "n x 3 uint8: the same pixels' colours")
      .def_property_readonly(
          "uncoloured",
          [](const py::object& self) -> py::array {
            const Scan& s = scanOf(self);
            if (s.colourless.empty()) {
              py::array_t<bool> none(s.valid);
              std::fill_n(none.mutable_data(), none.size(), false);
              return std::move(none);
            }
            return py::array_t<bool>({static_cast<py::ssize_t>(s.valid)}, {py::ssize_t{1}},
                                     reinterpret_cast<const bool*>(s.colourless.data()), self);
          },
          "n bool: the points without a colour (black), kept by read(keep_uncoloured=True)")
      .def_property_readonly(
          "transform",
          [](const py::object& self) {
            const Eigen::MatrixXd& t = scanOf(self).matrices.transform;
            return view(self, t.data(), t.rows(), t.cols(), 1, t.rows());
          },
          "4 x 4 float64: the scan's transform as the plug-in lays it out: the scan pose's\n"
          "values row by row, so its translation is the bottom row (transform[3, :3]), with\n"
          "the rotation block set to the identity: transform.T is that translation as the\n"
          "homogeneous matrix (translation in column 3) Open3D's transform() takes.")
      .def_property_readonly(
          "pixels", [](const Scan& s) { return std::int64_t{s.pixels}; },
          "the scan's pixel count, valid or not")
      .def("__repr__",
           [](const Scan& s) {
             return "<quarn.Scan: " + std::to_string(s.valid) + " points of " +
                    std::to_string(s.pixels) + " pixels>";
           })
      // Pickled as its arrays, copied back into a Scan of its own.
      .def(py::pickle(
          [](const py::object& self) {
            return py::make_tuple(self.attr("points"), self.attr("colours"), self.attr("transform"),
                                  self.attr("pixels"), self.attr("uncoloured"));
          },
          &unpickle));

  m.def("read", &readScan, py::arg("path"), py::arg("plugin"), py::arg("quiet"),
        py::arg("keep_uncoloured"),
        "Reads the scan at `path` through the plug-in library at `plugin`, its console lines\n"
        "muted if `quiet`, or frame by frame with the points without a colour if\n"
        "`keep_uncoloured`; raises quarn.ScanError");

  py::class_<Frames>(m, "Frames", "The frames of a scan, read one at a time: see quarn.frames")
      .def(py::init<const std::string&, py::object, bool, bool>(), py::arg("path"),
           py::arg("make_frame"), py::arg("keep_uncoloured"), py::arg("normals"))
      .def("__iter__", [](const py::object& self) { return self; })
      .def("__next__", &Frames::readNext)
      .def("__len__", &Frames::count, "the scan's frame count")
      .def("__repr__", [](const Frames& frames) {
        return "<quarn.Frames: frame " + std::to_string(frames.next()) + " of " +
               std::to_string(frames.count()) + " next>";
      });
  m.def("trajectory", &trajectory, py::arg("path"),
        "Every frame's pose of the scan at `path`; raises quarn.ScanError");
  m.def("convert", &convert, py::arg("scan"), py::arg("output"), py::arg("preview"),
        py::arg("plugin"), py::arg("plugin_named"), py::arg("read"), py::arg("format"),
        py::arg("keep_uncoloured"), py::arg("voxel"), py::arg("merge_frames"), py::arg("normals"),
        "Converts the scan as quarn import does; see quarn.convert");
  m.attr("FORMATS") = quarn::pointFormatNames();
  // What an output's failure and a wrong request become in Python.
  py::register_exception_translator([](std::exception_ptr error) {
    try {
      if (error) std::rethrow_exception(error);
    } catch (const quarn::output::OutputFileError& e) {
      // As open() raises it: OSError(errno, strerror, filename), which Python makes the
      // subclass of that errno (PermissionError, IsADirectoryError, ...).
      py::object code = e.code() != 0 ? py::object(py::int_(e.code())) : py::object(py::none());
      py::object error = py::reinterpret_borrow<py::object>(PyExc_OSError)(
          code, e.reason(), py::module_::import("os").attr("fsdecode")(py::bytes(e.path())));
      PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    }
  });
}
