// Inputs the fuzzer once broke a promise on stay in fuzz/regressions and are replayed here,
// after the writer's seed scans, so that the replay is never empty.

#include <filesystem>
#include <utility>

#include "HostileTestSupport.h"
#include "SeedScans.h"

namespace quarn::hostile::test {
namespace {

namespace fs = std::filesystem;
using Inputs = std::vector<std::pair<std::string, Bytes>>;

TEST_F(HostileInputTest, SeedScansImportAndFuzzRegressionsKeepEveryPromise) {
  Inputs seeds;
  for (const std::string& path : writeSeedScans(dir_.path().string())) {
    seeds.emplace_back(path, scan::test::readBytes(path));
  }
  const Tally seeded = check(seeds);
  EXPECT_GE(seeded.tried, 4);
  EXPECT_EQ(seeded.imported, seeded.tried);

  // Named files only: a dot file keeps the directory in git.
  ASSERT_TRUE(fs::is_directory(QUARN_FUZZ_REGRESSIONS)) << QUARN_FUZZ_REGRESSIONS;
  Inputs regressions;
  for (const fs::directory_entry& entry : fs::directory_iterator(QUARN_FUZZ_REGRESSIONS)) {
    if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
      regressions.emplace_back(entry.path().filename().string(),
                               scan::test::readBytes(entry.path().string()));
    }
  }
  check(regressions);
}

}  // namespace
}  // namespace quarn::hostile::test
