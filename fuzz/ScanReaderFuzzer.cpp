// libFuzzer target: the fuzzer's bytes through ScanReader from memory, DotProductAPI and the
// plug-in's read, every promise of each checked by checkScanInput. A broken promise aborts,
// so libFuzzer keeps the input as a crash. With QUARN_SEED_CORPUS=DIR it first writes the
// seed scans into DIR.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

#include <unistd.h>

#include "QuarnDotProduct.h"
#include "ScanInputCheck.h"

namespace {

std::string scratchPath;

void removeScratch() { std::remove(scratchPath.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory where there is a tmpfs; one file per fuzzing process.
  std::error_code error;
  const std::filesystem::path directory = std::filesystem::is_directory("/dev/shm", error)
                                              ? std::filesystem::path("/dev/shm")
                                              : std::filesystem::temp_directory_path();
  scratchPath = (directory / ("quarn-fuzz-" + std::to_string(getpid()) + ".qscan")).string();
  std::atexit(removeScratch);
  std::cout.setstate(std::ios::badbit);  // the plug-in's console lines go nowhere
  // The writer's seed scans, into the folder libFuzzer reads next.
  if (const char* seeds = std::getenv("QUARN_SEED_CORPUS")) quarn::hostile::writeSeedScans(seeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const quarn::hostile::InputOutcome outcome =
      quarn::hostile::checkScanInput(data, size, scratchPath, &readDotProduct);
  if (!outcome.broken.empty()) {
    std::fprintf(stderr, "broken promise: %s\n", outcome.broken.c_str());
    std::abort();
  }
  return 0;
}
