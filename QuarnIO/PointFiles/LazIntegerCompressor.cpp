#include "LazIntegerCompressor.h"

namespace quarn {

namespace {

constexpr std::uint32_t kBitsHigh = 8;  // corrector bits coded with a model; the rest raw

}  // namespace

LazIntegerCompressor::LazIntegerCompressor(std::uint32_t bits, std::uint32_t contexts)
    : bits_(bits), lengths_(contexts, LazSymbolModel(bits + 1)), correctors_(bits) {}

LazSymbolModel& LazIntegerCompressor::correctorModel(std::uint32_t k) {
  std::unique_ptr<LazSymbolModel>& model = correctors_[k - 1];
  if (!model) model = std::make_unique<LazSymbolModel>(1u << (k < kBitsHigh ? k : kBitsHigh));
  return *model;
}

void LazIntegerCompressor::compress(LazArithmeticEncoder& encoder, std::int32_t predicted,
                                    std::int32_t real, std::uint32_t context) {
  // In two's complement, as LAZ readers add it back: a 32-bit corrector wraps around.
  std::uint32_t c = static_cast<std::uint32_t>(real) - static_cast<std::uint32_t>(predicted);
  if (bits_ < 32) {
    // Folded into [-2^(bits-1), 2^(bits-1) - 1]: the values have bits bits, so the reader's
    // sum wraps back to them.
    const std::uint32_t range = 1u << bits_;
    const auto folded = static_cast<std::int32_t>(c);
    const std::int32_t least = -static_cast<std::int32_t>(range / 2);
    if (folded < least)
      c += range;
    else if (folded > least + static_cast<std::int32_t>(range - 1))
      c -= range;
  }
  const auto signedC = static_cast<std::int32_t>(c);
  // The tightest [-(2^k - 1), 2^k] that holds the corrector.
  const std::uint32_t magnitude = signedC <= 0 ? 0u - c : c - 1;
  k_ = magnitude == 0 ? 0 : 32 - static_cast<std::uint32_t>(__builtin_clz(magnitude));
  encoder.encode(lengths_[context], k_);
  if (k_ == 0) {
    encoder.encodeBit(zeroOrOne_, c);  // 0 or 1
    return;
  }
  if (k_ == 32) return;  // only -2^31 needs all 32 bits: k says it all
  // Into [0, 2^k - 1]: the negatives below 2^(k-1), the positives from it.
  const std::uint32_t within = signedC >= 0 ? c - 1 : c + ((1u << k_) - 1);
  if (k_ <= kBitsHigh) {
    encoder.encode(correctorModel(k_), within);
  } else {
    const std::uint32_t low = k_ - kBitsHigh;
    encoder.encode(correctorModel(k_), within >> low);
    encoder.writeBits(low, within & ((1u << low) - 1));
  }
}

}  // namespace quarn
