#include "encoder/format/bit_writer.h"

void BitWriter::pad_with_ones() {
  if (pending_count_ == 0) return;
  put_bits(0xFF, 8 - pending_count_);
}
