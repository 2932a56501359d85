#pragma once

// The adaptive arithmetic coder LAZ is written with: 32-bit base and length, symbols scaled to
// 15 bits and bits to 13, models that halve their counts and update on a growing cycle. Every
// number here is what LAZ readers decode by, so the bytes are theirs to the bit.

#include <cstdint>
#include <vector>

namespace quarn {

// An adaptive model of `symbols` symbols (2 to 2048), all equally likely at first.
class LazSymbolModel {
 public:
  explicit LazSymbolModel(std::uint32_t symbols);

 private:
  friend class LazArithmeticEncoder;
  void update();

  std::vector<std::uint32_t> distribution_, counts_;
  std::uint32_t total_ = 0, cycle_, untilUpdate_;
};

// An adaptive model of one bit, 0 and 1 equally likely at first.
class LazBitModel {
 private:
  friend class LazArithmeticEncoder;
  void update();

  std::uint32_t zeros_ = 1, count_ = 2, zeroProbability_ = 1u << 12;
  std::uint32_t cycle_ = 4, untilUpdate_ = 4;
};

// Appends its bytes to `out`, which it owns until done(): a carry may change bytes already
// there.
class LazArithmeticEncoder {
 public:
  explicit LazArithmeticEncoder(std::vector<unsigned char>& out) : out_(out) {}

  void encode(LazSymbolModel& model, std::uint32_t symbol) {
    const std::uint32_t start = base_;
    if (symbol + 1 == model.counts_.size()) {  // the last symbol: its length is the rest
      const std::uint32_t x = model.distribution_[symbol] * (length_ >> 15);
      base_ += x;
      length_ -= x;
    } else {
      length_ >>= 15;
      const std::uint32_t x = model.distribution_[symbol] * length_;
      base_ += x;
      length_ = model.distribution_[symbol + 1] * length_ - x;
    }
    if (start > base_) carry();
    if (length_ < kMinLength) renormalise();
    ++model.counts_[symbol];
    if (--model.untilUpdate_ == 0) model.update();
  }

  void encodeBit(LazBitModel& model, std::uint32_t bit) {
    const std::uint32_t x = model.zeroProbability_ * (length_ >> 13);
    if (bit == 0) {
      length_ = x;
      ++model.zeros_;
    } else {
      const std::uint32_t start = base_;
      base_ += x;
      length_ -= x;
      if (start > base_) carry();
    }
    if (length_ < kMinLength) renormalise();
    if (--model.untilUpdate_ == 0) model.update();
  }

  // `bits` (at most 32) of `value` without a model.
  void writeBits(std::uint32_t bits, std::uint32_t value) {
    if (bits > 19) {
      writeShort(static_cast<std::uint16_t>(value));
      value >>= 16;
      bits -= 16;
    }
    raw(bits, value);
  }
  void writeShort(std::uint16_t value) { raw(16, value); }
  void writeInt(std::uint32_t value) {
    writeShort(static_cast<std::uint16_t>(value));
    writeShort(static_cast<std::uint16_t>(value >> 16));
  }

  // The last bytes, and the zeros a decoder reads ahead.
  void done();

 private:
  static constexpr std::uint32_t kMinLength = 1u << 24;

  void raw(std::uint32_t bits, std::uint32_t value) {
    const std::uint32_t start = base_;
    length_ >>= bits;
    base_ += value * length_;
    if (start > base_) carry();
    if (length_ < kMinLength) renormalise();
  }
  void carry();
  void renormalise() {
    do {
      out_.push_back(static_cast<unsigned char>(base_ >> 24));
      base_ <<= 8;
    } while ((length_ <<= 8) < kMinLength);
  }

  std::vector<unsigned char>& out_;
  std::uint32_t base_ = 0, length_ = 0xFFFFFFFFu;
};

}  // namespace quarn
