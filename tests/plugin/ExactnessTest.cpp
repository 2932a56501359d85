// Results to the bit: the flattened per-pixel transform against TooN, pose conversion,
// the transform print, and whole reads against a TooN reference computed here.

#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>

#include "PluginFixture.h"
#include "pose/FlatRigidTransform.h"
#include "pose/PoseConversion.h"
#include "pose/TransformPrint.h"

namespace {

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A right-handed but not quite orthonormal block (as scanners report them), column by
// column, with a translation of the given magnitude.
PoseArray randomPose(std::mt19937_64& rng, double translationScale) {
  std::uniform_real_distribution<double> angle(-3.0, 3.0), noise(-1e-3, 1e-3), unit(-1.0, 1.0);
  const TooN::SO3<double> rotation =
      TooN::SO3<double>::exp(TooN::makeVector(angle(rng), angle(rng), angle(rng)));
  PoseArray pose{};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) pose[r + 4 * c] = rotation.get_matrix()(r, c) + noise(rng);
  }
  for (int i = 12; i < 15; ++i) pose[i] = unit(rng) * translationScale;
  pose[15] = 1.0;
  return pose;
}

// Coordinates that stress rounding: ordinary, negative zero, subnormal, tiny, huge.
float randomCoordinate(std::mt19937_64& rng) {
  static const float special[] = {0.0f,     -0.0f, 1e-45f,  -1e-40f, 1e-30f,
                                  -3.4e38f, 1e30f, FLT_MAX, 0.1f,    -7.25f};
  std::uniform_int_distribution<int> pick(0, 13);
  std::uniform_real_distribution<float> ordinary(-50.0f, 50.0f);
  const int choice = pick(rng);
  return choice < 10 ? special[choice] : ordinary(rng);
}

TEST(FlatRigidTransform, MatchesTooNToTheBit) {
  std::mt19937_64 rng(2026);
  for (int poseIndex = 0; poseIndex < 400; ++poseIndex) {
    const double scale = poseIndex % 4 == 0 ? 1e6 : (poseIndex % 4 == 1 ? 1e-6 : 10.0);
    const auto transform = poseArrayToSE3(randomPose(rng, scale));
    ASSERT_TRUE(transform);
    const TooN::SE3<double> inverse = transform->inverse();
    const FlatRigidTransform flat(inverse);
    for (int pointIndex = 0; pointIndex < 200; ++pointIndex) {
      const double x = randomCoordinate(rng), y = randomCoordinate(rng), z = randomCoordinate(rng);
      const TooN::Vector<4> expected = inverse * TooN::makeVector(x, y, z, 1.0);
      double actual[3];
      flat.apply(x, y, z, actual);
      for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sameBits(actual[i], expected[i]))
            << "pose " << poseIndex << " point " << pointIndex << " row " << i << ": " << actual[i]
            << " vs " << expected[i];
      }
    }
  }
}

TEST(PoseConversion, ReadsColumnsOrthonormalisesAndRoundsTheTranslation) {
  PoseArray pose{};
  pose[0] = pose[5] = pose[10] = 2.0;  // 2I becomes I
  pose[12] = 0.1;
  pose[13] = 0.2;
  pose[14] = 0.3;
  auto transform = poseArrayToSE3(pose);
  ASSERT_TRUE(transform);
  EXPECT_EQ(transform->get_rotation().get_matrix()(0, 0), 1.0);
  EXPECT_EQ(transform->get_rotation().get_matrix()(1, 1), 1.0);
  EXPECT_EQ(transform->get_translation()[0], static_cast<double>(0.1f));
  EXPECT_EQ(transform->get_translation()[1], static_cast<double>(0.2f));
  EXPECT_EQ(transform->get_translation()[2], static_cast<double>(0.3f));

  // Value r + 4c is row r, column c: a block written row by row comes out transposed.
  PoseArray rowByRow{};
  const double rotation[3][3] = {{0, -1, 0}, {1, 0, 0}, {0, 0, 1}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) rowByRow[4 * r + c] = rotation[r][c];
  }
  transform = poseArrayToSE3(rowByRow);
  ASSERT_TRUE(transform);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(transform->get_rotation().get_matrix()(r, c), rotation[c][r]);
  }
}

TEST(PoseConversion, NonOrthogonalRowsAreOrthonormalisedInOrder) {
  PoseArray pose{};
  // rows (3, 0, 0), (1, 2, 0), (1, 1, 5): row 0 keeps its direction, row 1 loses its
  // row-0 component, row 2 its components along rows 0 and 1.
  const double rows[3][3] = {{3, 0, 0}, {1, 2, 0}, {1, 1, 5}};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) pose[r + 4 * c] = rows[r][c];
  }
  const auto transform = poseArrayToSE3(pose);
  ASSERT_TRUE(transform);
  const TooN::Matrix<3> expected = TooN::Identity;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(transform->get_rotation().get_matrix()(r, c), expected(r, c));
  }
}

TEST(PoseConversion, RefusesWhatIsNotARotation) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  PoseArray identity{};
  identity[0] = identity[5] = identity[10] = 1.0;
  ASSERT_TRUE(poseArrayToSE3(identity));

  PoseArray reflected = identity, zeroRow = identity, withNaN = identity, withInf = identity;
  reflected[5] = -1.0;
  zeroRow[2 + 4 * 2] = 0.0;
  withNaN[1] = nan;
  withInf[8] = inf;
  EXPECT_FALSE(poseArrayToSE3(reflected));
  EXPECT_FALSE(poseArrayToSE3(zeroRow));
  EXPECT_FALSE(poseArrayToSE3(withNaN));
  EXPECT_FALSE(poseArrayToSE3(withInf));
  EXPECT_FALSE(poseArrayToSE3(PoseArray{}));
}

std::string printed(const PoseArray& pose) {
  std::ostringstream out;
  printGlobalTransform(out, *poseArrayToSE3(pose));
  return out.str();
}

TEST(TransformPrint, RowsInTooNFormatAndIgnoresTheUnreadValues) {
  PoseArray pose{};
  pose[0] = pose[5] = pose[10] = 1.0;
  pose[12] = 0.5;
  EXPECT_EQ(printed(pose), "Global scene transform T_g_r =\n1 0 0 0.5\n0 1 0 0\n0 0 1 0\n\n");

  pose[12] = 0.1;
  pose[13] = -1234567.0;
  const std::string before = printed(pose);
  EXPECT_EQ(before, "Global scene transform T_g_r =\n1 0 0 0.1\n0 1 0 -1.23457e+06\n0 0 1 0\n\n");
  pose[3] = pose[7] = pose[11] = 9.0;
  pose[15] = pose[16] = -4.0;
  EXPECT_EQ(printed(pose), before);
  EXPECT_EQ(poseArrayToSE3(pose)->get_translation()[0], static_cast<double>(0.1f));
}

// Whole reads with random frame and global poses: every output coordinate is TooN's
// T_g_r^-1 * (single-rounded T_f^-1 * p), rounded to single precision. If a compiler drops
// the final rounding (GCC's SLP vectorizer does at -O2 without -fno-tree-slp-vectorize),
// values stop being floats and this fails.
TEST_F(PluginTest, ReadMatchesTheTooNReferenceToTheBit) {
  std::mt19937_64 rng(7);
  ScannerScript& script = scannerScript();
  script.globalPose = randomPose(rng, 100.0);
  script.frameCount = 6;
  for (int f = 0; f < script.frameCount; ++f) {
    ScriptedFrame frame;
    frame.sizeX = 9;
    frame.sizeY = 7;
    frame.pose = randomPose(rng, f % 2 == 0 ? 5.0 : 3e4);
    for (int x = 0; x < frame.sizeX; ++x) {
      for (int y = 0; y < frame.sizeY; ++y) {
        ScriptedPixel& pixel = frame.pixels[{x, y}];
        pixel.point = std::array<float, 3>{randomCoordinate(rng), randomCoordinate(rng),
                                           std::uniform_real_distribution<float>(0.2f, 8.0f)(rng)};
        pixel.colour = std::array<unsigned char, 3>{1, 2, 3};
      }
    }
    script.frames.push_back(frame);
  }
  const std::vector<ScriptedFrame> frames = script.frames;
  const TooN::SE3<double> globalInverse = poseArrayToSE3(script.globalPose)->inverse();
  ASSERT_TRUE(read());

  int column = 0;
  int notFloat = 0;
  for (const ScriptedFrame& frame : frames) {
    const TooN::SE3<double> frameInverse = poseArrayToSE3(frame.pose)->inverse();
    for (const auto& [xy, pixel] : frame.pixels) {
      const auto& p = *pixel.point;
      const TooN::Vector<4> q = frameInverse * TooN::makeVector<double>(p[0], p[1], p[2], 1.0);
      const TooN::Vector<4, float> qf = TooN::makeVector<float>(q[0], q[1], q[2], 1.0f);
      const TooN::Vector<4> r = globalInverse * qf;
      for (int i = 0; i < 3; ++i) {
        const double value = points(i, column);
        if (!std::isnan(value) && static_cast<double>(static_cast<float>(value)) != value)
          ++notFloat;
        ASSERT_TRUE(sameBits(value, static_cast<float>(r[i])))
            << "column " << column << " row " << i << ": " << value << " vs " << r[i];
      }
      ++column;
    }
  }
  EXPECT_EQ(column, points.cols());
  EXPECT_EQ(notFloat, 0);
}

}  // namespace
