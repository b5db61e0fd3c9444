// Bit writer of the coded streams: bits fill bytes from the most significant bit down, every
// completed 0xFF byte is followed by a stuffed 0x00 (so 0xFF 0x00 never looks like a marker),
// and the last partial byte is padded with 1 bits.
#pragma once

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
    while (pending_count_ >= 8) {
      pending_count_ -= 8;
      put_byte(uint8_t(pending_ >> pending_count_));
    }
    pending_ &= (uint64_t(1) << pending_count_) - 1;
  }
  // Completes a pending partial byte with 1 bits; writes nothing when no bit is pending.
  void pad_with_ones();
  int pending_bits() const { return pending_count_; }

 private:
  void put_byte(uint8_t byte) {
    out_.push_back(byte);
    if (byte == 0xFF) out_.push_back(0x00);
  }

  std::vector<uint8_t>& out_;
  uint64_t pending_ = 0;  // right-aligned bits not yet forming a byte
  int pending_count_ = 0;
};
