#include "LazBytes14Compressor.h"

#include <cstdint>

#include "LazArithmeticEncoder.h"

namespace quarn {

LazBytes14Layers compressBytes14(const unsigned char* bytes, std::size_t width, std::size_t count,
                                 std::size_t stride) {
  LazBytes14Layers layers(width);
  // Which bytes change anywhere in the chunk, in one pass: a byte's differences ORed together.
  std::vector<unsigned char> changes(width, 0);
  for (std::size_t i = 1; i < count; ++i) {
    const unsigned char *p = bytes + i * stride, *before = p - stride;
    for (std::size_t k = 0; k < width; ++k) changes[k] |= p[k] ^ before[k];
  }
  // Then each changing byte down the chunk on its own coder and model, which stay hot: a
  // normal's low mantissa bytes are noise, a byte a point each.
  for (std::size_t k = 0; k < width; ++k) {
    if (changes[k] == 0) continue;
    std::vector<unsigned char>& layer = layers[k];
    layer.reserve(count + 8);
    LazArithmeticEncoder encoder(layer);
    LazSymbolModel model(256);
    const unsigned char* p = bytes + k;
    unsigned last = *p;
    for (std::size_t i = 1; i < count; ++i) {
      p += stride;
      const unsigned now = *p;
      encoder.encode(model, (now - last) & 0xFF);
      last = now;
    }
    encoder.done();
  }
  return layers;
}

}  // namespace quarn
