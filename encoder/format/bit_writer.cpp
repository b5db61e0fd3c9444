#include "encoder/format/bit_writer.h"

void BitWriter::put_byte(uint8_t byte) {
  out_.push_back(byte);
  if (byte == 0xFF) out_.push_back(0x00);
}

void BitWriter::put_bits(uint32_t value, int count) {
  if (count <= 0) return;
  const uint64_t mask = (uint64_t(1) << count) - 1;
  pending_ = (pending_ << count) | (value & mask);
  pending_count_ += count;
  while (pending_count_ >= 8) {
    pending_count_ -= 8;
    put_byte(uint8_t(pending_ >> pending_count_));
  }
  pending_ &= (uint64_t(1) << pending_count_) - 1;
}

void BitWriter::pad_with_ones() {
  if (pending_count_ == 0) return;
  put_bits(0xFF, 8 - pending_count_);
}
