#include "LazPoint14Compressor.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "LazArithmeticEncoder.h"
#include "LazIntegerCompressor.h"

namespace quarn {

namespace {

enum Layer { kXY, kZ, kClass, kFlags, kIntensity, kScanAngle, kUserData, kSource, kGps };

template <class T>
T load(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);  // little-endian in and out, as PointWriter.h says
  return value;
}

struct Point {
  explicit Point(const unsigned char* p)
      : x(load<std::int32_t>(p)),
        y(load<std::int32_t>(p + 4)),
        z(load<std::int32_t>(p + 8)),
        intensity(load<std::uint16_t>(p + 12)),
        returnNumber(p[14] & 15),
        returns(p[14] >> 4),
        channel((p[15] >> 4) & 3),
        // Classification flags, then scan direction and edge of flight line below them.
        flags(static_cast<std::uint8_t>((p[15] & 15) | (p[15] >> 2 & 0x30))),
        classification(p[16]),
        userData(p[17]),
        scanAngle(load<std::uint16_t>(p + 18)),
        source(load<std::uint16_t>(p + 20)),
        gps(load<double>(p + 22)),
        gpsBits(load<std::int64_t>(p + 22)) {}

  std::int32_t x, y, z;
  std::uint16_t intensity;
  std::uint8_t returnNumber, returns, channel, flags, classification, userData;
  std::uint16_t scanAngle, source;
  double gps;
  std::int64_t gpsBits;
  bool gpsChanged = false;  // against the point before it
};

// Which of the 16 x 16 return number r (column) and returns n (row) pairs share the XY medians:
// the usual ones apart, the rest folded in.
constexpr std::uint8_t kReturnContext[16][16] = {{0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5},
                                                 {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
                                                 {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3},
                                                 {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
                                                 {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
                                                 {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
                                                 {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4},
                                                 {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
                                                 {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4},
                                                 {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
                                                 {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4},
                                                 {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
                                                 {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4},
                                                 {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
                                                 {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5},
                                                 {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5}};

// How deep a return is (|n - r|, at most 7): Z is predicted from the last Z at that depth.
constexpr std::uint8_t depth(unsigned n, unsigned r) {
  const unsigned d = n > r ? n - r : r - n;
  return static_cast<std::uint8_t>(d < 7 ? d : 7);
}

// The median of the last five values, kept sorted: a new value replaces the oldest end, which
// alternates between the high and the low one.
class Median5 {
 public:
  std::int32_t get() const { return v_[2]; }
  void add(std::int32_t value) {
    if (high_) {
      if (value < v_[2]) {
        v_[4] = v_[3];
        v_[3] = v_[2];
        if (value < v_[0]) {
          v_[2] = v_[1];
          v_[1] = v_[0];
          v_[0] = value;
        } else if (value < v_[1]) {
          v_[2] = v_[1];
          v_[1] = value;
        } else {
          v_[2] = value;
        }
      } else {
        if (value < v_[3]) {
          v_[4] = v_[3];
          v_[3] = value;
        } else {
          v_[4] = value;
        }
        high_ = false;
      }
    } else {
      if (v_[2] < value) {
        v_[0] = v_[1];
        v_[1] = v_[2];
        if (v_[4] < value) {
          v_[2] = v_[3];
          v_[3] = v_[4];
          v_[4] = value;
        } else if (v_[3] < value) {
          v_[2] = v_[3];
          v_[3] = value;
        } else {
          v_[2] = value;
        }
      } else {
        if (v_[1] < value) {
          v_[0] = v_[1];
          v_[1] = value;
        } else {
          v_[0] = value;
        }
        high_ = true;
      }
    }
  }

 private:
  std::int32_t v_[5] = {0, 0, 0, 0, 0};
  bool high_ = true;
};

// GPS time multipliers of the last difference coded as such, and the codes past them.
constexpr std::int32_t kMulti = 500, kMultiMinus = -10;
constexpr std::uint32_t kMultiCodeFull = kMulti - kMultiMinus + 1;  // a new sequence
constexpr std::uint32_t kMultiTotal = kMulti - kMultiMinus + 5;     // + 1 to 3: another one

// A lazily made model: most of a context's tables are never used in a chunk.
struct LazyModel {
  LazSymbolModel& get(std::uint32_t symbols) {
    if (!model) model = std::make_unique<LazSymbolModel>(symbols);
    return *model;
  }
  std::unique_ptr<LazSymbolModel> model;
};

std::int32_t quantize(float value) {
  // Rounded half away from zero; saturated where the float is beyond int32, as laz-rs does
  // (any value decodes: the reader follows the code, not the arithmetic).
  if (!(value < 2147483647.0f)) return 2147483647;
  if (!(value > -2147483648.0f)) return -2147483647 - 1;
  return value >= 0 ? static_cast<std::int32_t>(value + 0.5f)
                    : static_cast<std::int32_t>(value - 0.5f);
}

std::int32_t times(std::int32_t a, std::int32_t b) {  // wrapping, as the readers multiply
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

class Point14Encoder {
 public:
  Point14Encoder(const Point& first, const bool (&changed)[9], LazPoint14Layers& layers)
      : changed_(changed), last_(first) {
    for (int i = 0; i < 9; ++i) encoders_[i] = std::make_unique<LazArithmeticEncoder>(layers[i]);
    lastZ_.fill(first.z);
    lastIntensity_.fill(first.intensity);
    gpsTimes_[0] = first.gpsBits;
  }

  void encode(Point point) {
    LazArithmeticEncoder& xy = *encoders_[kXY];
    const unsigned lastReturn = (last_.returnNumber == 1) +
                                (last_.returnNumber >= last_.returns ? 2 : 0) +
                                (last_.gpsChanged ? 4 : 0);
    const bool sourceChanged = point.source != last_.source;
    point.gpsChanged = point.gps != last_.gps;  // as doubles: -0 after +0 is no change
    const bool angleChanged = point.scanAngle != last_.scanAngle;
    const unsigned n = point.returns, r = point.returnNumber;
    const unsigned lastN = last_.returns, lastR = last_.returnNumber;
    unsigned changes =
        sourceChanged << 5 | point.gpsChanged << 4 | angleChanged << 3 | (n != lastN) << 2;
    if (r != lastR) changes |= r == ((lastR + 1) & 15) ? 1 : r == ((lastR + 15) & 15) ? 2 : 3;
    xy.encode(changedValues_[lastReturn].get(128), changes);
    if (n != lastN) xy.encode(returnsModel_[lastN].get(16), n);
    if ((changes & 3) == 3) {
      if (point.gpsChanged) {
        xy.encode(returnNumber_[lastR].get(16), r);
      } else {
        const int step = static_cast<int>(r) - static_cast<int>(lastR);
        xy.encode(returnNumberSameTime_.get(13),
                  static_cast<std::uint32_t>(step > 1 ? step - 2 : step + 14));
      }
    }

    const unsigned median = kReturnContext[n][r] << 1 | point.gpsChanged;
    const unsigned single = n == 1;
    const std::int32_t dx = diff(point.x, last_.x), dy = diff(point.y, last_.y);
    x_.compress(xy, xMedian_[median].get(), dx, single);
    xMedian_[median].add(dx);
    const std::uint32_t kx = x_.k();
    y_.compress(xy, yMedian_[median].get(), dy, single + (kx < 20 ? kx & ~1u : 20));
    yMedian_[median].add(dy);
    const std::uint32_t kxy = (x_.k() + y_.k()) / 2;
    const std::uint8_t level = depth(n, r);
    z_.compress(*encoders_[kZ], lastZ_[level], point.z, single + (kxy < 18 ? kxy & ~1u : 18));
    lastZ_[level] = point.z;

    const unsigned position = (r == 1 ? 2 : 0) + (r >= n ? 1 : 0);  // single 3, first 2, last 1
    if (changed_[kClass]) {
      encoders_[kClass]->encode(
          classification_[((last_.classification & 0x1F) << 1) + (position == 3)].get(256),
          point.classification);
    }
    if (changed_[kFlags]) encoders_[kFlags]->encode(flags_[last_.flags].get(64), point.flags);
    if (changed_[kIntensity]) {
      std::uint16_t& before = lastIntensity_[position << 1 | point.gpsChanged];
      intensity_.compress(*encoders_[kIntensity], before, point.intensity, position);
      before = point.intensity;
    }
    if (angleChanged) {
      scanAngle_.compress(*encoders_[kScanAngle], last_.scanAngle, point.scanAngle,
                          point.gpsChanged);
    }
    if (changed_[kUserData])
      encoders_[kUserData]->encode(userData_[last_.userData / 4].get(256), point.userData);
    if (sourceChanged) source_.compress(*encoders_[kSource], last_.source, point.source, 0);
    last_ = point;
    if (point.gpsChanged) encodeGps(point.gpsBits);
  }

  void done() {
    for (int i = 0; i < 9; ++i) {
      if (i <= kZ || changed_[i]) encoders_[i]->done();
    }
  }

 private:
  static std::int32_t diff(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
  }

  // The bits of a double, against up to four sequences of times: a difference that fits in
  // 32 bits is coded against the last one, as a multiple of it where it is near one.
  void encodeGps(std::int64_t time) {
    LazArithmeticEncoder& out = *encoders_[kGps];
    for (;;) {
      const std::int64_t wide = wrappedDifference(time, gpsTimes_[last_sequence_]);
      const auto step = static_cast<std::int32_t>(wide);
      std::int32_t& lastStep = gpsSteps_[last_sequence_];
      std::int32_t& extremes = gpsExtremes_[last_sequence_];
      const bool multiple = lastStep != 0;
      if (wide == step) {
        if (!multiple) {
          out.encode(gpsNoStep_.get(5), 0);
          gps_.compress(out, 0, step, 0);
          lastStep = step;
          extremes = 0;
          break;
        }
        const std::int32_t multi =
            quantize(static_cast<float>(step) / static_cast<float>(lastStep));
        bool extreme = false;
        if (multi == 1) {
          out.encode(gpsMulti_.get(kMultiTotal), 1);
          gps_.compress(out, lastStep, step, 1);
          extremes = 0;
        } else if (multi > 0 && multi < kMulti) {
          out.encode(gpsMulti_.get(kMultiTotal), static_cast<std::uint32_t>(multi));
          gps_.compress(out, times(multi, lastStep), step, multi < 10 ? 2 : 3);
        } else if (multi >= kMulti) {
          out.encode(gpsMulti_.get(kMultiTotal), kMulti);
          gps_.compress(out, times(kMulti, lastStep), step, 4);
          extreme = true;
        } else if (multi < 0 && multi > kMultiMinus) {
          out.encode(gpsMulti_.get(kMultiTotal), static_cast<std::uint32_t>(kMulti - multi));
          gps_.compress(out, times(multi, lastStep), step, 5);
        } else if (multi < 0) {
          out.encode(gpsMulti_.get(kMultiTotal), kMulti - kMultiMinus);
          gps_.compress(out, times(kMultiMinus, lastStep), step, 6);
          extreme = true;
        } else {
          out.encode(gpsMulti_.get(kMultiTotal), 0);
          gps_.compress(out, 0, step, 7);
          extreme = true;
        }
        // A difference far off the last one several times running becomes the new one.
        if (extreme && ++extremes > 3) {
          lastStep = step;
          extremes = 0;
        }
        break;
      }
      unsigned other = 1;
      while (other < 4 && !fits(time, gpsTimes_[(last_sequence_ + other) & 3])) ++other;
      if (other < 4) {  // it continues another sequence: switch to it and code it there
        if (multiple)
          out.encode(gpsMulti_.get(kMultiTotal), kMultiCodeFull + other);
        else
          out.encode(gpsNoStep_.get(5), other + 1);
        last_sequence_ = (last_sequence_ + other) & 3;
        continue;
      }
      // A new sequence: its upper half against the last time's, its lower half raw.
      if (multiple)
        out.encode(gpsMulti_.get(kMultiTotal), kMultiCodeFull);
      else
        out.encode(gpsNoStep_.get(5), 1);
      gps_.compress(out, static_cast<std::int32_t>(gpsTimes_[last_sequence_] >> 32),
                    static_cast<std::int32_t>(time >> 32), 8);
      out.writeInt(static_cast<std::uint32_t>(time));
      next_sequence_ = (next_sequence_ + 1) & 3;
      last_sequence_ = next_sequence_;
      gpsSteps_[last_sequence_] = 0;
      gpsExtremes_[last_sequence_] = 0;
      break;
    }
    gpsTimes_[last_sequence_] = time;
  }

  static std::int64_t wrappedDifference(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
  }
  static bool fits(std::int64_t a, std::int64_t b) {
    const std::int64_t wide = wrappedDifference(a, b);
    return wide == static_cast<std::int32_t>(wide);
  }

  const bool (&changed_)[9];
  std::unique_ptr<LazArithmeticEncoder> encoders_[9];
  Point last_;
  LazyModel changedValues_[8], returnsModel_[16], returnNumber_[16], returnNumberSameTime_;
  LazyModel classification_[64], flags_[64], userData_[64], gpsMulti_, gpsNoStep_;
  LazIntegerCompressor x_{32, 2}, y_{32, 22}, z_{32, 20}, intensity_{16, 4}, scanAngle_{16, 2};
  LazIntegerCompressor source_{16, 1}, gps_{32, 9};
  Median5 xMedian_[12], yMedian_[12];
  std::array<std::int32_t, 8> lastZ_;
  std::array<std::uint16_t, 8> lastIntensity_;
  std::int64_t gpsTimes_[4] = {0, 0, 0, 0};
  std::int32_t gpsSteps_[4] = {0, 0, 0, 0}, gpsExtremes_[4] = {0, 0, 0, 0};
  unsigned last_sequence_ = 0, next_sequence_ = 0;
};

}  // namespace

LazPoint14Layers compressPoint14(const unsigned char* records, std::size_t count,
                                 std::size_t stride) {
  LazPoint14Layers layers;
  if (count == 0) return layers;
  // The layers coded for every point are worth coding only where their field changes; the
  // others are coded only on a change anyway.
  bool changed[9] = {};
  const Point first(records);
  for (std::size_t i = 1; i < count; ++i) {
    const unsigned char* p = records + i * stride;
    const unsigned char* before = p - stride;
    if ((p[15] ^ first.channel << 4) & 0x30)
      throw std::logic_error("LAZ points of more than one scanner channel");
    changed[kClass] |= p[16] != before[16];
    changed[kFlags] |= ((p[15] ^ before[15]) & 0xCF) != 0;
    changed[kIntensity] |= std::memcmp(p + 12, before + 12, 2) != 0;
    changed[kUserData] |= p[17] != before[17];
    changed[kScanAngle] |= std::memcmp(p + 18, before + 18, 2) != 0;
    changed[kSource] |= std::memcmp(p + 20, before + 20, 2) != 0;
    changed[kGps] |= load<double>(p + 22) != load<double>(before + 22);
  }
  Point14Encoder encoder(first, changed, layers);
  for (std::size_t i = 1; i < count; ++i) encoder.encode(Point(records + i * stride));
  encoder.done();
  return layers;
}

}  // namespace quarn
