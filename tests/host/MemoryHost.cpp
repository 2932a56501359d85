// memory_host PLUGIN SCAN: a host for the memory cgroup test. Reads SCAN and prints whether the
// read succeeded and whether its matrices (storage, sizes, values) are as they were.
#include <iostream>

#include "HostMatrices.h"
#include "PluginLibrary.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const PluginLibrary plugin(argv[1]);
  HostMatrices host;
  const bool read = host.read(plugin.readDotProduct, argv[2]);
  std::cout << "read " << read << ", matrices " << (host.untouched() ? "untouched" : "changed")
            << std::endl;
}
