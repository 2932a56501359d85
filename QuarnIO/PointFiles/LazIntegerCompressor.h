#pragma once

// LAZ's integer compressor: a value against its prediction, as the corrector real - predicted.
// The corrector's bit length k is coded in the context's model, then the corrector within the
// k-bit interval: whole while k is at most 8, else its top 8 bits modelled and the rest raw.

#include <cstdint>
#include <memory>
#include <vector>

#include "LazArithmeticEncoder.h"

namespace quarn {

class LazIntegerCompressor {
 public:
  // For values of `bits` bits (1 to 32) in `contexts` contexts.
  LazIntegerCompressor(std::uint32_t bits, std::uint32_t contexts);

  void compress(LazArithmeticEncoder& encoder, std::int32_t predicted, std::int32_t real,
                std::uint32_t context);
  // The k of the last value compressed: the next values' contexts depend on it.
  std::uint32_t k() const { return k_; }

 private:
  LazSymbolModel& correctorModel(std::uint32_t k);

  std::uint32_t bits_, k_ = 0;
  std::vector<LazSymbolModel> lengths_;  // k, one model per context
  LazBitModel zeroOrOne_;                // the corrector when k is 0
  // By k - 1; made when first used, as the same fresh model every time.
  std::vector<std::unique_ptr<LazSymbolModel>> correctors_;
};

}  // namespace quarn
