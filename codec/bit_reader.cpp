#include "codec/bit_reader.h"

#include <algorithm>
#include <cstring>

namespace {
// Chunks start small and double: a window decode reads many short records at scattered
// offsets and should not pull kilobytes past each, while a long stream still gets large reads.
constexpr size_t kFirstChunk = 256;
constexpr size_t kLargestChunk = 16384;
}  // namespace

BitReader::BitReader(FILE* in, uint64_t limit)
    : in_(in),
      chunk_(kLargestChunk),
      data_(chunk_.data()),
      next_chunk_(limit == UINT64_MAX ? kFirstChunk : kLargestChunk),
      remaining_(limit) {}

BitReader::BitReader(std::span<const uint8_t> bytes)
    : in_(nullptr),
      data_(bytes.data()),
      chunk_size_(bytes.size()),
      next_chunk_(0),
      remaining_(0) {}

bool BitReader::load_chunk() {
  chunk_position_ = 0;
  chunk_size_ = 0;
  if (remaining_ == 0) {
    stop_ = Stop::kMarker;
    return false;
  }
  chunk_size_ = fread(chunk_.data(), 1, size_t(std::min<uint64_t>(next_chunk_, remaining_)), in_);
  remaining_ -= chunk_size_;
  next_chunk_ = std::min(2 * next_chunk_, kLargestChunk);
  if (chunk_size_ > 0) return true;
  stop_ = ferror(in_) ? Stop::kReadError : Stop::kEndOfFile;
  return false;
}

int BitReader::next_byte() {
  if (chunk_position_ == chunk_size_ && !load_chunk()) return -1;
  return data_[chunk_position_++];
}

int BitReader::fill_slowly(int count) {
  while (count_ < count && count_ <= 56 && stop_ == Stop::kNone) {
    const int byte = next_byte();
    if (byte < 0) break;
    if (byte == 0xFF) {
      const int next = next_byte();
      if (next < 0) break;
      if (next != 0x00) {
        stop_ = Stop::kMarker;
        rewind_ += 2;
        break;
      }
    }
    window_ |= uint64_t(byte) << (56 - count_);
    count_ += 8;
  }
  return count_;
}

bool BitReader::release() {
  // The bits of a partly used byte count as read; whole bytes still in the window go back,
  // each 0xFF with its stuffed 0x00.
  const int partial = count_ % 8;
  for (int k = 0; k < count_ / 8; ++k) {
    const int shift = 64 - partial - 8 * (k + 1);
    rewind_ += ((window_ >> shift) & 0xFF) == 0xFF ? 2 : 1;
  }
  window_ = 0;
  count_ = 0;
  if (!in_) return true;
  const int64_t back = int64_t(chunk_size_ - chunk_position_) + rewind_;
  chunk_size_ = chunk_position_ = 0;
  rewind_ = 0;
  return back == 0 || fseeko(in_, off_t(-back), SEEK_CUR) == 0;
}
