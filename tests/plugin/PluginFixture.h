#pragma once

#include <cstring>
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "QuarnDotProduct.h"
#include "ScriptedScanner.h"

// Each test starts from an empty script and a captured std::cout, and reads into host
// matrices that start out with recognisable contents.
class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scannerScript() = ScannerScript{};
    scannerScript().globalPose = poseWithTranslation(0, 0, 0);
    savedBuffer_ = std::cout.rdbuf(console_.rdbuf());
    points = Eigen::MatrixXd::Constant(3, 2, 42.0);
    colours = ColourMatrix::Constant(3, 2, 9);
    transform = Eigen::MatrixXd::Constant(2, 2, -1.0);
  }
  void TearDown() override { std::cout.rdbuf(savedBuffer_); }

  bool read(const char* path = "scan.bin", int scanIndex = 0) {
    int reserved = 0;
    return readDotProduct(path, scanIndex, points, colours, &reserved, nullptr, transform);
  }
  std::string console() const { return console_.str(); }

  Eigen::MatrixXd points;
  ColourMatrix colours;
  Eigen::MatrixXd transform;

 private:
  std::ostringstream console_;
  std::streambuf* savedBuffer_ = nullptr;
};

// A snapshot of the three host matrices: storage, shape and contents.
struct HostMatrices {
  const void* pointData;
  const void* colourData;
  const void* transformData;
  Eigen::MatrixXd points;
  ColourMatrix colours;
  Eigen::MatrixXd transform;

  HostMatrices(const Eigen::MatrixXd& p, const ColourMatrix& c, const Eigen::MatrixXd& t)
      : pointData(p.data()),
        colourData(c.data()),
        transformData(t.data()),
        points(p),
        colours(c),
        transform(t) {}

  void expectUnchanged(const Eigen::MatrixXd& p, const ColourMatrix& c,
                       const Eigen::MatrixXd& t) const {
    EXPECT_EQ(p.data(), pointData);
    EXPECT_EQ(c.data(), colourData);
    EXPECT_EQ(t.data(), transformData);
    ASSERT_EQ(p.rows(), points.rows());
    ASSERT_EQ(p.cols(), points.cols());
    EXPECT_EQ(std::memcmp(p.data(), points.data(), sizeof(double) * p.size()), 0);
    EXPECT_EQ(c, colours);
    ASSERT_EQ(t.rows(), transform.rows());
    ASSERT_EQ(t.cols(), transform.cols());
    EXPECT_EQ(std::memcmp(t.data(), transform.data(), sizeof(double) * t.size()), 0);
  }
};
