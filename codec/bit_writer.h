// Bit writer of the coded streams: bits fill bytes from the most significant bit down, every
// completed 0xFF byte is followed by a stuffed 0x00 (so 0xFF 0x00 never looks like a marker),
// and the last partial byte is padded with 1 bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class BitWriter {
 public:
  // Appends completed bytes to `out`, which the caller may drain between calls.
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

  // Writes the low `count` bits of `value`, most significant first; count is 0..32.
  void put_bits(uint32_t value, int count) {
    if (count <= 0) return;
    pending_ = (pending_ << count) | (value & ((uint64_t(1) << count) - 1));
    pending_count_ += count;
    if (pending_count_ >= 32) put_word();
  }
  // Writes the whole bytes still pending, then completes a partial byte with 1 bits; writes
  // nothing more when no bit is pending.
  void pad_with_ones();
  // Bits written but not yet in `out`.
  int pending_bits() const { return pending_count_; }

 private:
  // Bits are handed to `out` 32 at a time; a word without a 0xFF byte needs no stuffing.
  void put_word() {
    pending_count_ -= 32;
    const uint32_t word = uint32_t(pending_ >> pending_count_);
    pending_ &= (uint64_t(1) << pending_count_) - 1;
    const uint32_t inverted = ~word;  // a 0xFF byte of the word is a zero byte here
    if (((inverted - 0x01010101u) & ~inverted & 0x80808080u) == 0) {
      const size_t at = out_.size();
      out_.resize(at + 4);
      out_[at] = uint8_t(word >> 24), out_[at + 1] = uint8_t(word >> 16);
      out_[at + 2] = uint8_t(word >> 8), out_[at + 3] = uint8_t(word);
      return;
    }
    for (int shift = 24; shift >= 0; shift -= 8) put_byte(uint8_t(word >> shift));
  }
  void put_byte(uint8_t byte) {
    out_.push_back(byte);
    if (byte == 0xFF) out_.push_back(0x00);
  }

  std::vector<uint8_t>& out_;
  uint64_t pending_ = 0;  // right-aligned bits not yet in `out`, fewer than 32
  int pending_count_ = 0;
};
