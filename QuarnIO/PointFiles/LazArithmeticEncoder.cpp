#include "LazArithmeticEncoder.h"

#include <stdexcept>

namespace quarn {

LazSymbolModel::LazSymbolModel(std::uint32_t symbols)
    : distribution_(symbols), counts_(symbols, 1), cycle_(symbols) {
  if (symbols < 2 || symbols > 2048) throw std::logic_error("a model of 2 to 2048 symbols");
  update();
  untilUpdate_ = cycle_ = (symbols + 6) >> 1;
}

void LazSymbolModel::update() {
  total_ += cycle_;
  if (total_ > (1u << 15)) {  // halve the counts, so that the model follows a change
    total_ = 0;
    for (std::uint32_t& count : counts_) total_ += count = (count + 1) >> 1;
  }
  const std::uint32_t scale = 0x80000000u / total_;
  std::uint32_t sum = 0;
  for (std::size_t k = 0; k < counts_.size(); ++k) {
    distribution_[k] = (scale * sum) >> (31 - 15);
    sum += counts_[k];
  }
  cycle_ = (5 * cycle_) >> 2;
  const std::uint32_t most = (static_cast<std::uint32_t>(counts_.size()) + 6) << 3;
  if (cycle_ > most) cycle_ = most;
  untilUpdate_ = cycle_;
}

void LazBitModel::update() {
  count_ += cycle_;
  if (count_ > (1u << 13)) {
    count_ = (count_ + 1) >> 1;
    zeros_ = (zeros_ + 1) >> 1;
    if (zeros_ == count_) ++count_;
  }
  zeroProbability_ = (zeros_ * (0x80000000u / count_)) >> (31 - 13);
  cycle_ = (5 * cycle_) >> 2;
  if (cycle_ > 64) cycle_ = 64;
  untilUpdate_ = cycle_;
}

void LazArithmeticEncoder::carry() {
  // The bytes already out hold the base's higher digits: add one to them, rippling through
  // the 0xFF bytes.
  for (std::size_t i = out_.size(); i-- > 0;) {
    if (out_[i] != 0xFF) {
      ++out_[i];
      return;
    }
    out_[i] = 0;
  }
}

void LazArithmeticEncoder::done() {
  const std::uint32_t start = base_;
  const bool anotherByte = length_ > 2 * kMinLength;
  if (anotherByte) {
    base_ += kMinLength;
    length_ = kMinLength >> 1;
  } else {
    base_ += kMinLength >> 1;
    length_ = kMinLength >> 9;
  }
  if (start > base_) carry();
  renormalise();
  // A decoder reads four bytes ahead: these are the ones it reads past the end.
  out_.insert(out_.end(), anotherByte ? 3 : 2, 0);
}

}  // namespace quarn
