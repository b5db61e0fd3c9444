#include "codec/bit_writer.h"

void BitWriter::pad_with_ones() {
  while (pending_count_ >= 8) {
    pending_count_ -= 8;
    put_byte(uint8_t(pending_ >> pending_count_));
  }
  if (pending_count_ > 0) {
    const int fill = 8 - pending_count_;
    put_byte(uint8_t((pending_ << fill) | ((1u << fill) - 1)));
  }
  pending_ = 0;
  pending_count_ = 0;
}
