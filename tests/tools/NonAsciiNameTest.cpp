// Every quarn command takes a file name outside the Windows code page (on the wide command line).

#include <gtest/gtest.h>

#include "ScratchDir.h"
#include "TestScans.h"
#include "platform/Utf16.h"

TEST(NonAsciiName, SampleInfoAndImportTakeIt) {
  ScratchDir dir;
  const std::string name = dir.file(u8"\u00DCberpr\u00FCfung \u00F1 \u6E2C");
  const std::string out = dir.file("out.txt");
  const std::string commands[][2] = {
      {"sample --frames 2 --width 8 --height 6 -o \"" + name + ".scan\"",
       "wrote " + name + ".scan"},
      {"info \"" + name + ".scan\"", "total: 96 pixels"},
      {"import \"" + name + ".scan\" -o \"" + name + ".ply\"", "wrote   " + name + ".ply"}};
  for (const auto& [arguments, prints] : commands) {
    const std::wstring command =
        toUtf16("\"\"" QUARN_TOOL_PATH "\" " + arguments + " > \"" + out + "\" 2>&1\"");
    EXPECT_EQ(_wsystem(command.c_str()), 0) << arguments;
    EXPECT_NE(quarn::test::readText(out).find(prints), std::string::npos)
        << quarn::test::readText(out);
  }
}
