// Every quarn command takes a file name outside the Windows code page: sample writes the scan
// under it, info describes it and import reads it and writes its PLY under such a name.

#include <string>

#include <gtest/gtest.h>

#include "RunTool.h"
#include "platform/Utf16.h"

namespace {

TEST(NonAsciiName, SampleInfoAndImportTakeIt) {
  ScratchDir dir;
  const std::string name = dir.file(
      "\xC3\x9C"
      "berpr\xC3\xBC"
      "fung \xC3\xB1 \xE6\xB8\xAC");
  const std::string output = dir.file("out.txt");
  const struct {
    std::string arguments, prints;
  } commands[] = {
      {"sample --frames 2 --width 8 --height 6 --output \"" + name + ".scan\"",
       "wrote " + name + ".scan"},
      {"info \"" + name + ".scan\"", "total: 96 pixels"},
      {"import \"" + name + ".scan\" --output \"" + name + ".ply\"", "wrote   " + name + ".ply"}};
  for (const auto& c : commands) {
    SCOPED_TRACE(c.arguments);
    // The wide command line: the narrow one is in the code page.
    const std::wstring command =
        toUtf16("\"\"" QUARN_TOOL_PATH "\" " + c.arguments + " > \"" + output + "\" 2>&1\"");
    EXPECT_EQ(_wsystem(command.c_str()), 0);
    EXPECT_NE(quarn::tool::test::readText(output).find(c.prints), std::string::npos)
        << quarn::tool::test::readText(output);
  }
}

}  // namespace
