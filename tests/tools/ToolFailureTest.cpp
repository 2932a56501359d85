// Each way quarn can fail: one line on stderr naming the problem, exit code 1 (2 for a wrong
// command line), and no output file left behind, not even a temporary one. Each kind of output
// target: the file that was there is never destroyed.

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SampleScan.h"
#include "ScratchDir.h"
#include "TestScans.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using namespace quarn::test;

struct ToolRun {
  int exitCode;
  std::string err, out;
};

// quarn run in a separate process, as a user runs it (after the shell's `prefix`): its exit
// code, its stderr, Windows' CR of each line end dropped, and its stdout. Its output goes
// through files under `scratch`, removed after.
ToolRun runTool(const std::vector<std::string>& arguments, const std::filesystem::path& scratch,
                const std::string& prefix = "") {
  const std::filesystem::path out = scratch / "tool-stdout.txt", err = scratch / "tool-stderr.txt";
  std::string command = prefix + "\"" QUARN_TOOL_PATH "\"";
  for (const std::string& argument : arguments) command += " \"" + argument + "\"";
  command += " > \"" + out.string() + "\" 2> \"" + err.string() + "\"";
#if defined(_WIN32)
  // cmd strips one pair. Under Wine the shell now and then fails to start (-1), or fails to
  // start the program it was given (cmd's 9009, "Can't recognize"): nothing run, so tried
  // again; never a run of quarn's, whose exit codes are 0, 1 and 2.
  int exitCode = -1;
  for (int attempt = 0; attempt < 3 && (exitCode == -1 || exitCode == 9009); ++attempt)
    exitCode = std::system(("\"" + command + "\"").c_str());
#else
  const int status = std::system(command.c_str());
  const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  std::string said = readText(err.string());
  said.erase(std::remove(said.begin(), said.end(), '\r'), said.end());
  const std::string printed = readText(out.string());
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return {exitCode, said, printed};
}

TEST(ToolFailure, OneLineExitCodeAndNoFileLeft) {
  ScratchDir dir;
  const auto file = [&](const char* name) { return dir.file(name); };
  quarn::tool::writeSampleScan(file("good.scan"), {2, 16, 12, 1});
  const Bytes good = readBytes(file("good.scan"));
  writeBytes(file("text.scan"), Bytes(80, 'x'));
  writeBytes(file("version2.scan"), with<std::uint32_t>(good, quarn::scan::kVersionOffset, 2));
  writeBytes(file("truncated.scan"), Bytes(good.begin(), good.end() - 1));
  PoseArray reflection = rotationAboutZ(0);
  reflection[10] = -1;  // the SDK opens it, the plug-in refuses the frame pose
  writeScan(file("reflected.scan"), rotationAboutZ(0), {cyclingFrame(1, 1, reflection, 0)});
  const std::vector<std::string> inputs = dir.files();

  const std::string goodScan = file("good.scan"), out = file("out.ply");
  const std::string nowhere = file("no-such-dir");
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message;
  };
  // clang-format off
  std::vector<Case> cases = {
      {{"import", file("reflected.scan"), "-o", out, "--preview", file("out.png")}, 1, "the plug-in cannot read it"},
      {{"import", file("reflected.scan"), "-o", out, "--stream"}, 1, "cannot import " + file("reflected.scan") + ": the pose of frame 0 is not a rotation"},
      {{"import", goodScan, "-o", out, "--plugin", file("missing.so")}, 1, "cannot load the plug-in " + file("missing.so")},
      // A library, but not the plug-in: the SDK library lacks the exports.
      {{"import", goodScan, "-o", out, "--plugin", QUARN_SDK_PATH}, 1, "lacks readDotProduct or readDotProductNumberOfScans"},
      {{"import", goodScan, "-o", nowhere + "/out.ply"}, 1, "cannot write " + nowhere + "/out.ply: No such file or directory"},
      {{"import", goodScan, "-o", dir.path().string()}, 1, "cannot write " + dir.path().string() + ": Is a directory"},
      // The picture cannot be written, so the PLY is not written either.
      {{"import", goodScan, "-o", out, "--preview", nowhere + "/out.png"}, 1, "cannot write " + nowhere + "/out.png"},
      {{"sample", "-o", nowhere + "/out.scan", "--frames", "1"}, 1, "cannot write " + nowhere + "/out.scan: No such file"},
      {{"import", goodScan}, 2, "--output is required"},
      {{"import", goodScan, "-o", out, "--stream", "--plugin", file("missing.so")}, 2, "--stream excludes --plugin"},
      {{"import", "-", "-o", "-"}, 2, "a scan cannot be read from standard input"},
      {{"import", goodScan, "-o", out, "--format", "pcd"}, 2, "--format pcd, but " + out + " names PLY"},
      {{"import", goodScan, "-o", out, "--keep-uncoloured", "--plugin", file("missing.so")}, 2, "--keep-uncoloured is read frame by frame"},
      {{"import", goodScan, "-o", out, "--normals", "--plugin", file("missing.so")}, 2, "--plugin: --normals are made frame by frame"},
      {{"import", goodScan, "-o", out, "--voxel", "1e-300"}, 2, "--voxel: a point at "},
      {{"trajectory", goodScan, "-o", file("t.txt"), "--format", "csv"}, 2, "--format csv, but " + file("t.txt") + " names TUM text"},
      {{"trajectory", goodScan, "-o", "-", "--frobnicate", "x"}, 2, "not expected: --frobnicate x "},
      {{"import", goodScan, "-o", file("out.Foo")}, 2, "unknown output format '.Foo' (known: .ply, .pcd, .xyz, .e57, .las, .laz, .copc.laz)"},
      {{"import", goodScan, "-o", file("out.copc.laz"), "--format", "laz"}, 2, "--format laz, but " + file("out.copc.laz") + " names COPC"},
      {{"import", goodScan, "-o", out, "--preview", file("out.jpg")}, 2, "unknown output format '.jpg' (known: .png)"},
      {{"import", goodScan, "-o", ""}, 2, "--output: the file name is empty"},
      {{"sample", "-o", file("s.scan"), "--width", "0"}, 2, "--width"},
      {{"sample", "-o", file("s.scan"), "--frames", "abc"}, 2, "--frames: 'abc' is not a whole number"},
      {{"frobnicate"}, 2, "frobnicate"},
      {{}, 2, "a command is required"}};
  const std::pair<const char*, const char*> scans[] = {
      {"missing.scan", "no such file"}, {"text.scan", "not a scan file"},
      {"version2.scan", "a scan file of an unsupported format version"}, {"truncated.scan", "the scan file is damaged"}};
  // clang-format on
#if !defined(_WIN32)
  // Not descriptor 1: the kernel names descriptors without a leading zero.
  cases.push_back({{"import", goodScan, "-o", "/dev/fd/01"}, 1, "cannot write /dev/fd/01: "});
#endif
  // Anything but a positive, finite decimal number of metres, in one line of its own.
  for (const char* size :
       {"0", "-1", "inf", "nan", "abc", "5cm", "", "1e400", "0.05 ", " 0.05", "0x10"}) {
    cases.push_back({{"import", goodScan, "-o", out, "--voxel", size},
                     2,
                     "--voxel: '" + std::string(size) +
                         "' is not a cell size: give a positive number of metres, such as 0.05 ("});
  }
  for (const auto& [name, reason] : scans) {
    cases.push_back(
        {{"import", file(name), "-o", out}, 1, "cannot import " + file(name) + ": " + reason});
    cases.push_back({{"info", file(name)}, 1, "cannot read " + file(name) + ": " + reason});
  }
  for (const Case& c : cases) {
    const auto [exitCode, err, printed] = runTool(c.arguments, dir.path());
    SCOPED_TRACE(c.message);
    EXPECT_EQ(exitCode, c.exitCode) << err;
    EXPECT_EQ(err.rfind("quarn: error: ", 0), 0u) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_EQ(dir.files(), inputs);
  }
}

}  // namespace

TEST(ToolFailure, OutputTargetsKeepWhatIsThere) {
  namespace fs = std::filesystem;
  using fs::file_type;
  ScratchDir dir;
  const auto file = [&](const std::string& name) { return dir.file(name); };
  const std::string s = file("s.scan"), both = file("both.ply");
  quarn::tool::writeSampleScan(s, {2, 16, 12, 1});
  ASSERT_EQ(runTool({"import", s, "-o", file("ref.ply")}, dir.path()).exitCode, 0);
  const std::string scan = readText(s), ply = readText(file("ref.ply"));
  const auto make = [&](const std::string& name, int mode) {
    std::ofstream(file(name)) << "old";
    fs::permissions(file(name), fs::perms(mode));
  };
  fs::permissions(s, fs::perms(0644));
  fs::create_hard_link(s, file("hard.scan"));
  fs::create_directory(file("ro"));
  fs::permissions(file("ro"), fs::perms(0777));  // the file's own permission decides
  make("ro/ro.ply", 0444);
  std::string asUser;  // one who may not write ro.ply: root may write anything
#if defined(_WIN32)
  const int kReadWrite = 0666;  // Windows has a read-only flag only
#else
  const int kReadWrite = 0644;
#endif
  struct Case {
    std::vector<std::string> arguments;
    int exitCode;
    std::string message, checked;  // checked: a file, or "" for standard output
    file_type type;
    int mode;  // -1: not checked
    std::string content;
  };
  // clang-format off
  std::vector<Case> cases = {
      {{"import", s, "-o", file("hard.scan")}, 2, "the output " + file("hard.scan") + " and the input " + s + " are the same file", "hard.scan", file_type::regular, kReadWrite, scan},
      {{"import", s, "-o", both, "--preview", file("./both.ply")}, 2, "the outputs " + both + " and " + file("./both.ply") + " are the same file", "both.ply", file_type::not_found, -1, ""},
      {{"import", s, "-o", file("ro/ro.ply")}, 1, "cannot write " + file("ro/ro.ply") + ": Permission denied", "ro/ro.ply", file_type::regular, 0444, "old"},
      {{"import", s, "-o", "-"}, 0, "wrote   standard output", "", file_type::none, -1, ply}};
#if !defined(_WIN32)
  fs::create_symlink("s.scan", file("sym.scan"));
  ASSERT_EQ(mkfifo(file("fifo.scan").c_str(), 0600), 0);
  if (geteuid() == 0) {
    // Root without the capabilities that override file permissions: it still reaches the
    // scratch folder, which another user may not (a private TMPDIR).
    asUser = "setpriv --bounding-set=-dac_override,-dac_read_search ";
    ASSERT_EQ(chown(file("ro/ro.ply").c_str(), 65534, 65534), 0);
    ASSERT_EQ(mknod(file("null.ply").c_str(), S_IFCHR | 0600, makedev(1, 3)), 0);  // /dev/null's node
    cases.push_back({{"import", s, "-o", file("null.ply")}, 0, "", "null.ply", file_type::character, 0600, ""});
  }
  cases.insert(cases.end(), {
      {{"import", file("sym.scan"), "-o", s}, 2, "the output " + s + " and the input " + file("sym.scan") + " are the same file", "sym.scan", file_type::symlink, 0644, scan},
      // Standard output by its name: the report goes to standard error.
      {{"import", s, "-o", "/dev/stdout"}, 0, "wrote", "", file_type::none, -1, ply},
      // A scan's frame table comes last, at its front: a pipe gets the whole file at the end.
      {{"sample", "-o", file("fifo.scan"), "--frames", "2", "--width", "16", "--height", "12"}, 0, "", "fifo.scan", file_type::fifo, 0600, scan}});
#endif
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[2] + " " + c.arguments[3]);
    const std::string path = file(c.checked);
    std::string content;
    std::thread reader;  // a FIFO's, reading while quarn writes
    if (!c.checked.empty() && fs::is_fifo(path))
      reader = std::thread([&] { content = readText(path); });
    const ToolRun run = runTool(c.arguments, dir.path(), c.exitCode == 1 ? asUser : "");
#if !defined(_WIN32)
    if (reader.joinable())
      close(open(path.c_str(), O_WRONLY | O_NONBLOCK));  // quarn never opened it
#endif
    if (reader.joinable())
      reader.join();
    else
      content = c.checked.empty() ? run.out : readText(path);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(content == c.content) << content.size() << " bytes";
    if (c.checked.empty()) continue;
    EXPECT_EQ(fs::symlink_status(path).type(), c.type);
    if (c.mode >= 0) {
      EXPECT_EQ(fs::status(path).permissions(), fs::perms(c.mode));
    }
  }
}
