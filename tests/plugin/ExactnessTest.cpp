// Results to the bit: the flattened per-pixel transform against TooN, and the transform print.

#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

#include "pose/FlatRigidTransform.h"
#include "pose/PoseConversion.h"
#include "pose/TransformPrint.h"

namespace {

// A right-handed but not quite orthonormal block (as scanners report them), column by
// column, with a translation of the given magnitude.
PoseArray randomPose(std::mt19937_64& rng, double translationScale) {
  std::uniform_real_distribution<double> angle(-3.0, 3.0), noise(-1e-3, 1e-3), unit(-1.0, 1.0);
  const TooN::Matrix<3> rotation =
      TooN::SO3<double>::exp(TooN::makeVector(angle(rng), angle(rng), angle(rng))).get_matrix();
  PoseArray pose{};
  for (int i = 0; i < 12; ++i) pose[i] = i % 4 == 3 ? 0.0 : rotation(i % 4, i / 4) + noise(rng);
  for (int i = 12; i < 15; ++i) pose[i] = unit(rng) * translationScale;
  return pose;
}

// Coordinates that stress rounding: ordinary, negative zero, subnormal, tiny, huge.
float randomCoordinate(std::mt19937_64& rng) {
  static const float special[] = {0.0f,     -0.0f, 1e-45f,  -1e-40f, 1e-30f,
                                  -3.4e38f, 1e30f, FLT_MAX, 0.1f,    -7.25f};
  const int choice = std::uniform_int_distribution<int>(0, 13)(rng);
  return choice < 10 ? special[choice] : std::uniform_real_distribution<float>(-50, 50)(rng);
}

// The SE3 as held in memory. Where the compiler sees that an inverse's translation is a
// negation, it may fold the negation into the sums, and a NaN keeps its sign there.
TooN::SE3<double> stored(TooN::SE3<double> transform) {
  volatile double t[3];
  for (int i = 0; i < 3; ++i) t[i] = transform.get_translation()[i];
  transform.get_translation() = TooN::makeVector(t[0], t[1], t[2]);
  return transform;
}

// TooN's SE3 * (x, y, z, 1) evaluated as written, against the flat transform built as the
// gathering builds it, straight from the inverse.
TEST(FlatRigidTransform, MatchesTooNToTheBit) {
  std::mt19937_64 rng(2026);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int poseIndex = 0; poseIndex < 400; ++poseIndex) {
    const double scale = poseIndex % 4 == 0 ? 1e6 : (poseIndex % 4 == 1 ? 1e-6 : 10.0);
    PoseArray pose = randomPose(rng, scale);
    // NaN of either sign in one coordinate of the translation: the inverse's negation flips it.
    if (poseIndex % 8 == 7) pose[12 + poseIndex / 8 % 3] = poseIndex % 16 == 7 ? nan : -nan;
    const auto transform = poseArrayToSE3(pose);
    ASSERT_TRUE(transform);
    const TooN::SE3<double> inverse = stored(transform->inverse());
    const FlatRigidTransform flat(transform->inverse());
    for (int pointIndex = 0; pointIndex < 200; ++pointIndex) {
      const double x = randomCoordinate(rng), y = randomCoordinate(rng), z = randomCoordinate(rng);
      const TooN::Vector<4> expected = inverse * TooN::makeVector(x, y, z, 1.0);
      double actual[3];
      flat.apply(x, y, z, actual);
      ASSERT_EQ(std::memcmp(actual, &expected[0], sizeof actual), 0)
          << "pose " << poseIndex << " point " << pointIndex;
    }
  }
}

// The rows are orthonormalised in order, so a block whose rows gain multiples of the rows
// before them and are scaled is still that rotation, however skewed; a block orthonormalising
// to a mirror is refused, however close to a rotation.
TEST(PoseConversion, SkewedRowsAreTheirRotationAndAMirrorIsRefused) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> shear(-20.0, 20.0), scale(0.05, 50.0);
  for (int poseIndex = 0; poseIndex < 200; ++poseIndex) {
    const PoseArray pose = randomPose(rng, 1.0);
    PoseArray skewed = pose;
    const double s1 = shear(rng), s2 = shear(rng), s3 = shear(rng);
    const double k0 = scale(rng), k1 = scale(rng), k2 = scale(rng);
    for (int c = 0; c < 3; ++c) {  // row r is pose[r], pose[4 + r], pose[8 + r]
      const double r0 = pose[4 * c], r1 = pose[4 * c + 1] + s1 * r0;
      skewed[4 * c] = k0 * r0;
      skewed[4 * c + 1] = k1 * r1;
      skewed[4 * c + 2] = k2 * (pose[4 * c + 2] + s2 * r0 + s3 * r1);
    }
    const auto expected = poseArrayToSE3(pose), actual = poseArrayToSE3(skewed);
    ASSERT_TRUE(expected && actual) << "pose " << poseIndex;
    const TooN::Matrix<3> difference =
        actual->get_rotation().get_matrix() - expected->get_rotation().get_matrix();
    for (int r = 0; r < 3; ++r) EXPECT_LT(TooN::norm(difference[r]), 1e-9) << "pose " << poseIndex;
    PoseArray mirrored = skewed;
    for (int c = 0; c < 3; ++c) mirrored[4 * c + poseIndex % 3] *= -1;
    EXPECT_FALSE(poseArrayToSE3(mirrored)) << "pose " << poseIndex;
  }
}

// What the print wrote, and what it had written at each flush.
std::string printed(const PoseArray& pose, std::vector<std::string>* flushes = nullptr,
                    std::ios::fmtflags format = {}, int precision = 6) {
  struct FlushLog : std::stringbuf {
    std::vector<std::string> flushes;
    int sync() override { return flushes.push_back(str()), 0; }
  } log;
  std::ostream out(&log);
  out.setf(format);
  out.precision(precision);
  printGlobalTransform(out, *poseArrayToSE3(pose));
  if (flushes != nullptr) *flushes = log.flushes;
  return log.str();
}

// Rows in TooN's format; the translation rounded to single precision (which six digits hide);
// the values outside the upper 3 x 4 ignored; rows (3, 0, 0), (1, 2, 0), (1, 1, 5), stored
// column by column, orthonormalised in order to I.
TEST(TransformPrint, RowsInTooNFormatAndIgnoresTheUnreadValues) {
  PoseArray pose{};
  pose[0] = 3.0;
  pose[1] = pose[2] = pose[6] = 1.0;
  pose[5] = 2.0;
  pose[10] = 5.0;
  pose[12] = 0.5;
  std::vector<std::string> flushes;
  const std::string title = "Global scene transform T_g_r =\n";
  EXPECT_EQ(printed(pose, &flushes), title + "1 0 0 0.5\n0 1 0 0\n0 0 1 0\n\n");
  EXPECT_EQ(flushes, (std::vector<std::string>{title, title + "1 0 0 0.5\n0 1 0 0\n0 0 1 0\n\n"}));
  pose[12] = 0.1;
  pose[13] = -1234567.0;
  const std::string expected =
      "Global scene transform T_g_r =\n1 0 0 0.1\n0 1 0 -1.23457e+06\n0 0 1 0\n\n";
  EXPECT_EQ(printed(pose), expected);
  pose[3] = pose[7] = pose[11] = 9.0;
  pose[15] = pose[16] = -4.0;
  EXPECT_EQ(printed(pose), expected);
  EXPECT_EQ(poseArrayToSE3(pose)->get_translation()[0], 0.1f);
  // The rows take the stream's number format.
  EXPECT_EQ(printed(pose, nullptr, std::ios::fixed, 2),
            "Global scene transform T_g_r =\n1.00 0.00 0.00 0.10\n0.00 1.00 0.00 -1234567.00\n"
            "0.00 0.00 1.00 0.00\n\n");
}

}  // namespace
