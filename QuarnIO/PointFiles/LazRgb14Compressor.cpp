#include "LazRgb14Compressor.h"

#include <cstdint>
#include <cstring>

#include "LazArithmeticEncoder.h"

namespace quarn {

namespace {

// The six bytes, low then high of red, green and blue.
struct Colour {
  explicit Colour(const unsigned char* p) {
    for (int c = 0; c < 3; ++c) {
      low[c] = p[2 * c];
      high[c] = p[2 * c + 1];
    }
  }
  int low[3], high[3];
};

int clampByte(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

class RgbEncoder {
 public:
  explicit RgbEncoder(std::vector<unsigned char>& out) : out_(out) {}

  void encode(const Colour& last, const Colour& now) {
    unsigned changed = 0;
    for (int c = 0; c < 3; ++c) {
      changed |= (now.low[c] != last.low[c]) << 2 * c;
      changed |= (now.high[c] != last.high[c]) << (2 * c + 1);
    }
    // Bit 6: not grey. A grey colour is its red three times, and nothing more is coded.
    const bool colour = now.low[0] != now.low[1] || now.low[0] != now.low[2] ||
                        now.high[0] != now.high[1] || now.high[0] != now.high[2];
    out_.encode(used_, changed | colour << 6);
    int lowStep = 0, highStep = 0;  // red's change, green's and blue's prediction
    if (changed & 1) {
      lowStep = now.low[0] - last.low[0];
      out_.encode(bytes_[0], lowStep & 0xFF);
    }
    if (changed & 2) {
      highStep = now.high[0] - last.high[0];
      out_.encode(bytes_[1], highStep & 0xFF);
    }
    if (!colour) return;
    if (changed & 4) encodeByte(bytes_[2], now.low[1], lowStep + last.low[1]);
    if (changed & 16) {
      lowStep = (lowStep + now.low[1] - last.low[1]) / 2;
      encodeByte(bytes_[4], now.low[2], lowStep + last.low[2]);
    }
    if (changed & 8) encodeByte(bytes_[3], now.high[1], highStep + last.high[1]);
    if (changed & 32) {
      highStep = (highStep + now.high[1] - last.high[1]) / 2;
      encodeByte(bytes_[5], now.high[2], highStep + last.high[2]);
    }
  }

  void done() { out_.done(); }

 private:
  void encodeByte(LazSymbolModel& model, int value, int predicted) {
    out_.encode(model, static_cast<std::uint32_t>(value - clampByte(predicted)) & 0xFF);
  }

  LazArithmeticEncoder out_;
  LazSymbolModel used_{128};
  // Low red, high red, low green, high green, low blue, high blue.
  LazSymbolModel bytes_[6] = {LazSymbolModel(256), LazSymbolModel(256), LazSymbolModel(256),
                              LazSymbolModel(256), LazSymbolModel(256), LazSymbolModel(256)};
};

}  // namespace

std::vector<unsigned char> compressRgb14(const unsigned char* rgb, std::size_t count,
                                         std::size_t stride) {
  std::vector<unsigned char> layer;
  bool changes = false;
  for (std::size_t i = 1; i < count && !changes; ++i)
    changes = std::memcmp(rgb + i * stride, rgb + (i - 1) * stride, 6) != 0;
  if (!changes) return layer;
  RgbEncoder encoder(layer);
  for (std::size_t i = 1; i < count; ++i)
    encoder.encode(Colour(rgb + (i - 1) * stride), Colour(rgb + i * stride));
  encoder.done();
  return layer;
}

}  // namespace quarn
