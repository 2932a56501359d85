// quarn: writes sample scans, describes scans through the SDK, and imports them through the
// QuarnDotProduct plug-in as a host does. Errors end in one line on stderr and exit code 1;
// a wrong command line exits with 2. With an output "-", standard output, the report goes to
// standard error.

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <CLI/CLI.hpp>

#include "Formatted.h"
#include "ImportCommand.h"
#include "InfoCommand.h"
#include "OutputFile.h"
#include "Platform.h"
#include "PointFormat.h"
#include "ProgressLine.h"
#include "SampleScan.h"
#include "Seconds.h"
#include "Trajectory.h"
#include "TrajectoryCommand.h"

namespace {

using namespace quarn;
using namespace quarn::tool;

void runSample(const std::string& output, const SampleOptions& options, std::ostream& out) {
  const Clock::time_point start = Clock::now();
  const SampleSummary summary = writeSampleScan(output, options);
  const double seconds = secondsSince(start);
  std::error_code error;
  const auto bytes = std::filesystem::file_size(pathFromUtf8(output), error);
  out << "wrote " << (output == "-" ? "standard output" : output);
  if (!error) out << " (" << bytes << " bytes)";  // not for a pipe
  out << " in " << formatted("%.2f", seconds) << " s\n"
      << "frames  " << options.frames << " of " << options.width << " x " << options.height
      << ", seed " << options.seed << '\n'
      << "pixels  " << summary.pixels << ": " << summary.withPoint << " with a point, "
      << summary.withColour << " with a colour, " << summary.withBoth << " with both\n";
}

// Whole numbers said to be one when they are not ("abc" is not out of range, it is no number).
const CLI::Validator kWholeNumber(
    [](std::string& text) {
      long long value;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      return error == std::errc() && end == text.data() + text.size()
                 ? std::string()
                 : "'" + text + "' is not a whole number";
    },
    "INT");

// What went to standard output has to have arrived: a full disk fails the command too. The
// reason is the errno of the write that failed, the last call to fail.
int checkedStandardOutput(int exitCode) {
  std::cout.flush();
  if (std::fflush(stdout) == 0 && !std::ferror(stdout) && std::cout) return exitCode;
  const int error = errno != 0 ? errno : EIO;
  std::cerr << "quarn: error: cannot write standard output: " << std::strerror(error) << '\n';
  return 1;
}

// A cell size as a user writes one: a positive, finite decimal number of metres ("0.05",
// "5e-2"), nothing around it; not hexadecimal, "inf" or "nan", which strtod would take.
std::optional<double> cellSize(const std::string& text) {
  static const std::regex kDecimal(R"(\+?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?)");
  if (!std::regex_match(text, kDecimal)) return std::nullopt;
  const char* first = text.data() + (text[0] == '+');
  double value = 0;
  const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
  // Out of range is a size of 0 or beyond every double.
  if (error != std::errc() || end != text.data() + text.size() || !(value > 0) ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::string notACellSize(const std::string& text) {
  return "--voxel: '" + text +
         "' is not a cell size: give a positive number of metres, such as 0.05";
}

const CLI::Validator kFileName(
    [](std::string& text) {
      return text.empty() ? std::string("the file name is empty (- is standard output)")
                          : std::string();
    },
    "FILE");

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments = utf8Arguments(argc, argv);
  std::vector<const char*> pointers;
  for (const std::string& argument : arguments) pointers.push_back(argument.c_str());

  CLI::App app{"Sample scans, scan info and imports through the QuarnDotProduct plug-in."};
  app.name("quarn");
  app.set_version_flag("--version", "quarn " QUARN_VERSION);
  app.failure_message([](const CLI::App* app, const CLI::Error& e) {
    std::string text = e.what();
    // CLI11 2.1 lists the arguments it did not expect last first: in the order given here.
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
      const std::vector<std::string> extras = app->remaining(true);
      text = extras.size() > 1 ? "The following arguments were not expected:"
                               : "The following argument was not expected:";
      for (const std::string& extra : extras) text += " " + extra;
    }
    return "quarn: error: " + text + " (see quarn --help)\n";
  });

  SampleOptions sample;
  std::string sampleOutput;
  CLI::App* sampleCommand = app.add_subcommand(
      "sample", "Write a synthetic scan of a known room, ray cast frame by frame");
  sampleCommand->add_option("-o,--output", sampleOutput, "The scan file to write")
      ->required()
      ->check(kFileName);
  sampleCommand->add_option("--frames", sample.frames, "Number of frames")
      ->check(kWholeNumber)
      ->check(CLI::Range(0, 100000))
      ->capture_default_str();
  sampleCommand->add_option("--width", sample.width, "Frame width in pixels")
      ->check(kWholeNumber)
      ->check(CLI::Range(1, 8192))
      ->capture_default_str();
  sampleCommand->add_option("--height", sample.height, "Frame height in pixels")
      ->check(kWholeNumber)
      ->check(CLI::Range(1, 8192))
      ->capture_default_str();
  sampleCommand->add_option("--seed", sample.seed, "Seed of the object placement and hand shake")
      ->check(kWholeNumber)
      ->capture_default_str();

  std::string infoScan;
  CLI::App* infoCommand =
      app.add_subcommand("info", "Print a scan's frames, poses and pixel counts through the SDK");
  infoCommand->add_option("scan", infoScan, "The scan file")->required();
  bool infoJson = false;
  infoCommand->add_flag("--json", infoJson, "Print one JSON object: frames, poses, counts");

  // -q: nothing but errors, for scripts. (The progress line shows only on a terminal anyway.)
  bool quiet = false;
  const auto addQuiet = [&](CLI::App* command) {
    command->add_flag("-q,--quiet", quiet, "Print nothing but errors");
  };
  addQuiet(sampleCommand);

  std::string trajectoryScan, trajectoryOutput, trajectoryFormat;
  CLI::App* trajectoryCommand = app.add_subcommand(
      "trajectory", "Write the scanner's path: every frame's pose in output coordinates");
  trajectoryCommand->add_option("scan", trajectoryScan, "The scan file")->required();
  trajectoryCommand
      ->add_option("-o,--output", trajectoryOutput,
                   "The file to write, by extension: .txt (TUM: index tx ty tz qx qy qz qw), "
                   ".csv, .ply (positions joined by edges); - for standard output (TUM unless "
                   "--format says otherwise)")
      ->required()
      ->check(kFileName);
  trajectoryCommand
      ->add_option("--format", trajectoryFormat,
                   "The output's format (txt, csv, ply), for - and names of any other extension")
      ->check(CLI::IsMember(trajectoryFormatNames(), CLI::ignore_case));
  addQuiet(trajectoryCommand);

  ConversionRequest import;
  std::string pluginOption, voxelOption;
  bool stream = false;
  CLI::App* importCommand = app.add_subcommand(
      "import",
      "Read a scan through the plug-in as a host does and write its points (.ply, .pcd, .xyz, "
      ".e57, .las, .laz, .copc.laz)");
  importCommand->add_option("scan", import.scan, "The scan file")->required();
  importCommand
      ->add_option("-o,--output", import.output,
                   "The point file to write, its format by extension: .ply, .pcd, .xyz, .e57, "
                   ".las, .laz, .copc.laz; - for standard output (PLY unless --format says "
                   "otherwise)")
      ->required()
      ->check(kFileName);
  importCommand
      ->add_option("--format", import.format,
                   "The output's format, for - and names of any other extension; a known "
                   "extension must agree")
      ->check(CLI::IsMember(pointFormatNames(), CLI::ignore_case));
  importCommand->add_option("--preview", import.preview, "A PNG picture of the cloud to write")
      ->check(kFileName);
  importCommand->add_flag("--keep-uncoloured", import.keepUncoloured,
                          "Also write the points without a colour: black, marked as such in E57 "
                          "(read frame by frame, without the plug-in)");
  // Checked after parsing, in words of its own: CLI11's range check would quote every digit
  // of the largest double.
  CLI::Option* voxelFlag =
      importCommand
          ->add_option("--voxel", voxelOption,
                       "Thin the points to one per occupied cube of SIZE metres (a grid from the "
                       "origin): each cell's mean point and mean colour")
          ->type_name("SIZE");
  importCommand->add_flag("--normals", import.normals,
                          "Also write each point's surface normal, made from its frame's pixel "
                          "grid and facing the scanner (read frame by frame, without the "
                          "plug-in)");
  importCommand->add_flag("--merge-frames", import.mergeFrames,
                          "E57: all points as one scan in output coordinates, without a scan "
                          "(pose and grid) for each frame; other formats keep each point's "
                          "frame as before");
  addQuiet(importCommand);
  CLI::Option* streamFlag =
      importCommand->add_flag("--stream", stream,
                              "Read the scan frame by frame, in the memory of a frame, without "
                              "the plug-in (the same output; also when the whole read does not "
                              "fit in memory)");
  importCommand
      ->add_option("--plugin", pluginOption,
                   "The plug-in library (default: where the build or install puts it)")
      ->excludes(streamFlag);

  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? checkedStandardOutput(0) : 2;
  }

  if (app.get_subcommands().empty()) {  // required, but checked here so that CLI11 names strays
    std::cerr
        << "quarn: error: a command is required: sample, info, import or trajectory (see quarn "
           "--help)\n";
    return 2;
  }
  try {
    // What a command says, where its output is not standard output; nowhere when quiet.
    const auto report = [&](std::initializer_list<std::string> outputs) -> std::ostream* {
      if (quiet) return nullptr;
      for (const std::string& name : outputs) {
        if (!name.empty() && output::namesStandardOutput(name)) return &std::cerr;
      }
      return &std::cout;
    };
    if (*sampleCommand) {
      if (std::ostream* out = report({sampleOutput})) {
        runSample(sampleOutput, sample, *out);
      } else {
        writeSampleScan(sampleOutput, sample);
      }
    } else if (*infoCommand) {
      printScanInfo(infoScan, std::cout, infoJson);
    } else if (*trajectoryCommand) {
      writeScanTrajectory(trajectoryScan, trajectoryOutput, trajectoryFormat,
                          report({trajectoryOutput}));
    } else if (*importCommand) {
      if (stream) import.read = ConversionRequest::Read::frames;
      if (*voxelFlag) {
        import.voxel = cellSize(voxelOption);
        if (!import.voxel) throw std::invalid_argument(notACellSize(voxelOption));
      }
      import.pluginNamed = !pluginOption.empty();
      import.plugin = pluginOption.empty()
                          ? pathToUtf8(defaultPluginPath(executablePath(arguments.at(0))))
                          : pluginOption;
      import.quiet = quiet;
      importScan(import, report({import.output, import.preview}), quiet ? nullptr : &std::cerr,
                 !quiet && standardErrorIsTerminal());
    }
  } catch (const std::invalid_argument& e) {  // the command line names what cannot be done
    std::cout.flush();
    std::cerr << "quarn: error: " << e.what() << " (see quarn --help)\n";
    return 2;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << "quarn: error: out of memory\n";
    return 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "quarn: error: " << e.what() << '\n';
    return 1;
  }
  return checkedStandardOutput(0);
}
