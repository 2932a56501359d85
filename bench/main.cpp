// quarn_bench: times the plug-in's import of a large sample scan against Open3D reading the
// same points from PLY and against what the machine cannot avoid, and measures the peak
// memory of an import; then quarn import's conversion to PLY, frame by frame and through the
// plug-in, against the least any conversion does. Result lines on stdout, progress and
// details on stderr.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "BenchData.h"
#include "ConvertRun.h"
#include "Formatted.h"
#include "ImportCommand.h"
#include "ImportRun.h"
#include "MachineBound.h"
#include "Open3DRead.h"
#include "Platform.h"
#include "PluginLibrary.h"
#include "PythonRead.h"
#include "Seconds.h"
#include "platform/MemoryAdmission.h"

namespace {

using namespace quarn;
using namespace quarn::bench;

constexpr std::size_t kReadBuffer = 8 << 20;

// The best (least) of the times of a measure's runs.
struct Best {
  double seconds = std::numeric_limits<double>::infinity();
  std::vector<double> runs;
  void add(double s) {
    runs.push_back(s);
    seconds = std::min(seconds, s);
  }
  bool measured() const { return seconds != std::numeric_limits<double>::infinity(); }
};

std::string runsText(const Best& best) {
  std::string text;
  for (double s : best.runs) text += (text.empty() ? "" : " ") + tool::formatted("%.4g", s);
  return text;
}

void printLine(const char* name, double value, int decimals) {
  std::printf("%s: %.*f\n", name, decimals, value);
}

std::vector<char> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The programs the benchmark runs as child processes.
struct Children {
  std::string importOnce, measurer, quarn;
};

int run(const tool::SampleOptions& size, int runs, const std::string& dataDir,
        const std::string& pluginPath, const Children& children) {
  const Clock::time_point start = Clock::now();
  const BenchFiles files = prepareBenchFiles(dataDir, size, pluginPath, std::cerr);
  const std::int64_t pixels = std::int64_t{size.frames} * size.width * size.height;
  const std::int64_t outputBytes = std::int64_t{kOutputBytesPerPixel} * pixels;
  const PluginLibrary plugin(pluginPath);

  // Every read below is from the page cache.
  std::vector<char> buffer(kReadBuffer);
  std::uint64_t scanBytes = 0, plyBytes = 0;
  timeFileRead(files.scan, buffer, scanBytes);
  timeFileRead(files.ply, buffer, plyBytes);

  // The conversions' outputs, beside the scan; the bound writes the PLY's bytes.
  const std::vector<char> ply = fileBytes(files.ply);
  const std::string boundOut = files.ply + ".bound", streamOut = files.ply + ".streamed.ply",
                    pluginOut = files.ply + ".plugin.ply";
  const auto quarnImport = [&](const std::string& output, std::vector<std::string> how) {
    std::filesystem::remove(output);
    how.insert(how.begin(), {children.quarn, "import", files.scan, "-o", output});
    return how;
  };

  Best import, open3d, read, python, convertBound, stream, pluginConvert;
  std::int64_t streamPeak = 0, pluginConvertPeak = 0;
  // Streamed beside the PLY: the formats that keep frames, the PLY thinned to 5 cm cells, and
  // the PLY with each point's normal.
  struct FrameFormat {
    const char* name;
    std::string output;
    std::vector<std::string> options;
    Best seconds;
    std::int64_t peak = 0;
    std::uintmax_t bytes = 0;
  };
  FrameFormat frameFormats[] = {
      {"e57", files.ply + ".streamed.e57", {}, {}, 0},
      {"las", files.ply + ".streamed.las", {}, {}, 0},
      {"laz", files.ply + ".streamed.laz", {}, {}, 0},
      {"voxel", files.ply + ".voxel.ply", {"--stream", "--voxel", "0.05"}, {}, 0},
      {"normals", files.ply + ".normals.ply", {"--normals"}, {}, 0},
      {"copc", files.ply + ".streamed.copc.laz", {}, {}, 0}};
  std::vector<Best> touch(std::size(kTouchMethods));
  ImportResult imported;
  for (int r = 0; r < runs; ++r) {
    import.add(timeImport(plugin, files.scan, imported));
    if (imported.columns != pixels) {
      throw std::runtime_error("the plug-in read " + std::to_string(imported.columns) +
                               " pixels, the scan has " + std::to_string(pixels));
    }
#if defined(QUARN_BENCH_PYTHON)
    python.add(timePythonRead(files.scan, pluginPath, pixels));  // beside the import it matches
#endif
    std::size_t open3dPoints = 0;
    open3d.add(timeOpen3DRead(files.ply, open3dPoints));
    if (static_cast<std::int64_t>(open3dPoints) != imported.points) {
      throw std::runtime_error("Open3D read " + std::to_string(open3dPoints) +
                               " points, the plug-in " + std::to_string(imported.points) +
                               ": remove " + files.ply + " to write it again");
    }
    for (std::size_t m = 0; m < touch.size(); ++m) {
      const double s = timeFreshStorage(static_cast<std::size_t>(outputBytes), kTouchMethods[m]);
      if (s >= 0) touch[m].add(s);
    }
    std::uint64_t bytes = 0;
    read.add(timeFileRead(files.scan, buffer, bytes));
    if (bytes != scanBytes) throw std::runtime_error(files.scan + " changed during the run");

    std::filesystem::remove(boundOut);
    convertBound.add(timeFileRead(files.scan, buffer, bytes) + timeFileWrite(boundOut, ply));
    const MeasuredRun streamed =
        runMeasured(children.measurer, quarnImport(streamOut, {"--stream"}));
    stream.add(streamed.seconds);
    streamPeak = std::max(streamPeak, streamed.peakBytes);
    for (FrameFormat& format : frameFormats) {
      const MeasuredRun run =
          runMeasured(children.measurer, quarnImport(format.output, format.options));
      format.seconds.add(run.seconds);
      format.peak = std::max(format.peak, run.peakBytes);
      format.bytes = std::filesystem::file_size(format.output);
    }
    const MeasuredRun converted =
        runMeasured(children.measurer, quarnImport(pluginOut, {"--plugin", pluginPath}));
    pluginConvert.add(converted.seconds);
    pluginConvertPeak = std::max(pluginConvertPeak, converted.peakBytes);
  }
  for (const std::string& output : {streamOut, pluginOut}) {
    if (fileBytes(output) != ply) throw std::runtime_error(output + " differs from " + files.ply);
  }
  for (const std::string& output : {boundOut, streamOut, pluginOut})
    std::filesystem::remove(output);
  for (const FrameFormat& format : frameFormats) std::filesystem::remove(format.output);

  // 4 KiB pages, and huge pages where the kernel takes the advice (else the same as 4 KiB).
  if (!touch[0].measured()) throw std::runtime_error("the system refuses MADV_POPULATE_WRITE");
  const double bound4k = touch[0].seconds + read.seconds;
  const double boundHuge = touch[1].measured() ? touch[1].seconds + read.seconds : bound4k;
  const PeakMemory peak = measureImportPeak(children.importOnce, pluginPath, files.scan);
  if (peak.columns != pixels) throw std::runtime_error("the import child read another scan");

  const double perPixel = 1e9 / static_cast<double>(pixels);
  std::cerr << "bench: " << size.frames << " frames of " << size.width << " x " << size.height
            << " = " << pixels << " pixels, " << imported.points
            << " with point and colour; best of " << runs << '\n'
            << "bench: import s " << runsText(import) << '\n'
            << "bench: open3d s " << runsText(open3d) << '\n';
  for (std::size_t m = 0; m < touch.size(); ++m) {
    std::cerr << "bench: bound touch " << touchMethodName(kTouchMethods[m]) << " s "
              << (touch[m].measured() ? runsText(touch[m]) : "refused by the system") << '\n';
  }
  std::cerr << "bench: bound read of " << scanBytes << " bytes s " << runsText(read) << '\n'
            << "bench: import child peak " << peak.peakBytes << " bytes (" << peak.beforeBytes
            << " before the read) for " << outputBytes << " bytes of output\n"
            << "bench: convert bound (read the scan, write " << ply.size() << " bytes of PLY) s "
            << runsText(convertBound) << '\n'
            << "bench: quarn import --stream s " << runsText(stream) << ", peak " << streamPeak
            << " bytes\n"
            << "bench: quarn import through the plug-in s " << runsText(pluginConvert) << ", peak "
            << pluginConvertPeak << " bytes\n";

  printLine("import_ns_per_pixel", import.seconds * perPixel, 2);
  printLine("open3d_ns_per_pixel", open3d.seconds * perPixel, 2);
  printLine("bound_4k_ns_per_pixel", bound4k * perPixel, 2);
  printLine("bound_hugepage_ns_per_pixel", boundHuge * perPixel, 2);
  printLine("ratio_import_vs_open3d", import.seconds / open3d.seconds, 3);
  printLine("ratio_import_vs_bound_4k", import.seconds / bound4k, 3);
  printLine("ratio_import_vs_bound_hugepage", import.seconds / boundHuge, 3);
  printLine("peak_rss_over_output",
            static_cast<double>(peak.peakBytes) / static_cast<double>(outputBytes), 3);
  printLine("convert_bound_ns_per_pixel", convertBound.seconds * perPixel, 2);
  printLine("stream_convert_ns_per_pixel", stream.seconds * perPixel, 2);
  printLine("plugin_convert_ns_per_pixel", pluginConvert.seconds * perPixel, 2);
  printLine("ratio_stream_vs_convert_bound", stream.seconds / convertBound.seconds, 3);
  printLine("ratio_stream_vs_plugin_convert", stream.seconds / pluginConvert.seconds, 3);
  printLine("stream_peak_rss_mb", static_cast<double>(streamPeak) / 1e6, 1);
  for (const FrameFormat& format : frameFormats) {
    std::cerr << "bench: quarn import to " << format.name << " s " << runsText(format.seconds)
              << ", peak " << format.peak << " bytes\n";
    const std::string name = format.name;
    printLine(("stream_" + name + "_ns_per_pixel").c_str(), format.seconds.seconds * perPixel, 2);
    printLine(("ratio_" + name + "_vs_ply_stream").c_str(), format.seconds.seconds / stream.seconds,
              3);
    printLine(("stream_" + name + "_peak_rss_mb").c_str(), static_cast<double>(format.peak) / 1e6,
              1);
  }
  // LAZ against the LAS it compresses, in the same runs.
  const FrameFormat &las = frameFormats[1], &laz = frameFormats[2];
  const auto points = static_cast<double>(imported.points);
  printLine("ratio_laz_vs_las_stream", laz.seconds.seconds / las.seconds.seconds, 3);
  printLine("laz_points_per_second", points / laz.seconds.seconds, 0);
  printLine("laz_bytes_per_point", static_cast<double>(laz.bytes) / points, 2);
  printLine("ratio_laz_vs_las_bytes",
            static_cast<double>(laz.bytes) / static_cast<double>(las.bytes), 3);
  // COPC against the LAZ whose chunks it reorders into an octree.
  const FrameFormat& copc = frameFormats[std::size(frameFormats) - 1];
  printLine("ratio_copc_vs_laz_stream", copc.seconds.seconds / laz.seconds.seconds, 3);
  printLine("copc_points_per_second", points / copc.seconds.seconds, 0);
#if defined(QUARN_BENCH_PYTHON)
  std::cerr << "bench: python s " << runsText(python) << '\n';
  printLine("python_read_ns_per_pixel", python.seconds * perPixel, 2);
  printLine("ratio_python_vs_import", python.seconds / import.seconds, 3);
#endif
  std::fflush(stdout);
  std::cerr << "bench: took " << secondsSince(start) << " s\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Times the QuarnDotProduct import of a sample scan against Open3D and the machine's bound."};
  app.name("quarn_bench");
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return "quarn_bench: error: " + std::string(e.what()) + " (see quarn_bench --help)\n";
  });
  tool::SampleOptions size;
  size.frames = 60;  // the standard sample: 18.4 M pixels, 497 MB of output
  size.width = 640;
  size.height = 480;
  int runs = 3;
  std::string dataDir = QUARN_BENCH_DATA_DIR, plugin;
  app.add_option("--frames", size.frames, "Frames of the sample scan")
      ->check(CLI::Range(1, 100000))
      ->capture_default_str();
  app.add_option("--width", size.width, "Frame width in pixels")
      ->check(CLI::Range(1, 8192))
      ->capture_default_str();
  app.add_option("--height", size.height, "Frame height in pixels")
      ->check(CLI::Range(1, 8192))
      ->capture_default_str();
  app.add_option("--seed", size.seed, "Seed of the sample scan")->capture_default_str();
  app.add_option("--runs", runs, "Runs of each measure; the best counts")
      ->check(CLI::Range(1, 1000))
      ->capture_default_str();
  app.add_option("--data-dir", dataDir, "Where the scans and PLY files are kept between runs")
      ->capture_default_str();
  app.add_option("--plugin", plugin,
                 "The plug-in library (default: where the build puts it beside this program)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }

  try {
    const std::string executable = tool::pathToUtf8(tool::executablePath(argv[0]));
    if (plugin.empty()) plugin = tool::pathToUtf8(tool::defaultPluginPath(executable));
    const auto beside = [&](const char* name) {
      return tool::pathToUtf8(tool::pathFromUtf8(executable).parent_path() / name);
    };
    return run(size, runs, dataDir, plugin,
               {beside(QUARN_BENCH_CHILD_NAME), beside(QUARN_BENCH_MEASURER_NAME),
                beside(QUARN_BENCH_TOOL_NAME)});
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "quarn_bench: error: " << e.what() << '\n';
    return 1;
  }
}
