// libFuzzer target: the fuzzer's bytes through ScanReader from memory, DotProductAPI, the
// plug-in's read and the frame reader, every promise of each checked by checkScanInput. A broken
// promise aborts, so libFuzzer keeps the input as a crash. With QUARN_SEED_CORPUS=DIR it first
// writes the seed scans into DIR.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <unistd.h>

#include "QuarnDotProduct.h"
#include "ScanInputCheck.h"

static std::string scratchPath;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // In memory where there is a tmpfs; one file per fuzzing process.
  const std::string directory = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  scratchPath = directory + "/quarn-fuzz-" + std::to_string(getpid()) + ".qscan";
  std::atexit([] { std::remove(scratchPath.c_str()); });
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
