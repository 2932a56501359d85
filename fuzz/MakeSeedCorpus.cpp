// Writes the fuzzer's seed corpus: make_seed_corpus DIRECTORY (created if missing).

#include <filesystem>
#include <iostream>

#include "SeedScans.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_seed_corpus DIRECTORY\n";
    return 2;
  }
  try {
    std::filesystem::create_directories(argv[1]);
    const auto paths = quarn::hostile::writeSeedScans(argv[1]);
    std::cout << paths.size() << " seed scans in " << argv[1] << "\n";
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "make_seed_corpus: " << error.what() << "\n";
    return 1;
  }
}
