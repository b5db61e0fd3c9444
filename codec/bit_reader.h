// Bit reader of the coded streams on a FILE*: removes the stuffed 0x00 after each 0xFF, and
// stops in front of the first marker (0xFF followed by anything else), which it leaves for the
// next reader. Reads ahead in chunks; `release` hands the unused bytes back to the stream.
// A reader told where its stream ends at the latest reads no further and treats that end as a
// marker (readers of scattered records then read only those records' bytes). A reader over
// bytes in memory treats their end the same way.
#pragma once

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>
#include <vector>

class BitReader {
 public:
  explicit BitReader(FILE* in, uint64_t limit = UINT64_MAX);
  explicit BitReader(std::span<const uint8_t> bytes);

  // Fills the window to at least `count` bits (count <= 57) unless a marker, the end of the
  // file or a read error comes first; returns the bits available.
  int fill(int count) {
    // The bytes up to the next 0xFF of the chunk go in at once, as the slow path would add them.
    if (count_ < count && stop_ == Stop::kNone && chunk_size_ - chunk_position_ >= 8) {
      uint64_t bytes;
      std::memcpy(&bytes, data_ + chunk_position_, 8);
      // The lowest byte that is 0xFF (a zero byte of ~bytes), exactly: 8 when there is none.
      const uint64_t inverted = ~bytes;
      const uint64_t zeros = (inverted - 0x0101010101010101ull) & bytes & 0x8080808080808080ull;
      const int first_ff = zeros ? __builtin_ctzll(zeros) / 8 : 8;
      const int n = std::min((64 - count_) / 8, first_ff);
      if (n > 0) {
        window_ |= (__builtin_bswap64(bytes) >> (64 - 8 * n)) << (64 - 8 * n - count_);
        count_ += 8 * n;
        chunk_position_ += size_t(n);
      }
    }
    return count_ >= count ? count_ : fill_slowly(count);
  }
  int available() const { return count_; }
  // The next `count` bits (1..32, count <= available()), most significant first.
  uint32_t peek(int count) const { return uint32_t(window_ >> (64 - count)); }
  void skip(int count) {
    window_ <<= count;
    count_ -= count;
  }
  uint32_t read(int count) {
    uint32_t value = peek(count);
    skip(count);
    return value;
  }
  // Why the window stopped growing: a marker, or no more data.
  bool at_marker() const { return stop_ == Stop::kMarker; }
  bool at_end_of_file() const { return stop_ == Stop::kEndOfFile; }
  bool read_failed() const { return stop_ == Stop::kReadError; }

  // Returns the read-ahead to the stream so that the next read starts at the marker (after
  // `at_marker`) or just after the byte that held the last bit taken; false when seeking fails.
  // A reader over memory has nothing to hand back.
  bool release();

 private:
  enum class Stop { kNone, kMarker, kEndOfFile, kReadError };
  int fill_slowly(int count);  // byte by byte, handling 0xFF and the end of the data
  int next_byte();  // the next raw byte, or -1 at the end of the data read so far
  bool load_chunk();

  FILE* in_;
  std::vector<uint8_t> chunk_;
  const uint8_t* data_;  // the chunk, or the bytes in memory
  size_t chunk_size_ = 0;
  size_t chunk_position_ = 0;
  size_t next_chunk_;     // bytes asked for by the next read (grows to the chunk size)
  uint64_t remaining_;   // bytes that may still be read
  int64_t rewind_ = 0;  // bytes already taken from the chunk that belong to the next reader
  uint64_t window_ = 0;  // unread bits, top-aligned
  int count_ = 0;
  Stop stop_ = Stop::kNone;
};
