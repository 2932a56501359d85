// memory_host PLUGIN SCAN: MemoryCgroupTest's host. Reads SCAN into matrices of its own and
// prints whether the read succeeded and whether the matrices (storage, sizes, values) are as
// they were.
#include <iostream>

#include "PluginLibrary.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  PluginScan scan{Eigen::MatrixXd::Constant(3, 1, 5.0), ColourMatrix::Constant(3, 1, 5),
                  Eigen::MatrixXd::Constant(1, 1, 5.0)};
  const PluginScan before = scan;
  const void* storage[] = {scan.points.data(), scan.colours.data(), scan.transform.data()};
  const PluginLibrary plugin(argv[1]);
  const bool read = plugin.read(argv[2], scan);
  const auto same = [](const auto& a, const auto& b) {
    return a.rows() == b.rows() && a.cols() == b.cols() && a == b;
  };
  const bool untouched = storage[0] == scan.points.data() && storage[1] == scan.colours.data() &&
                         storage[2] == scan.transform.data() && same(scan.points, before.points) &&
                         same(scan.colours, before.colours) && same(scan.transform, before.transform);
  std::cout << "read " << read << ", matrices " << (untouched ? "untouched" : "changed") << std::endl;
}
