// Bit reader of the coded streams on a FILE*: removes the stuffed 0x00 after each 0xFF, and
// stops in front of the first marker (0xFF followed by anything else), which it leaves for the
// next reader. Reads ahead in chunks; `release` hands the unused bytes back to the stream.
// A reader told where its stream ends at the latest reads no further and treats that end as a
// marker (readers of scattered records then read only those records' bytes). A reader over
// bytes in memory treats their end the same way.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

class BitReader {
 public:
  explicit BitReader(FILE* in, uint64_t limit = UINT64_MAX);
  explicit BitReader(std::span<const uint8_t> bytes);

  // Fills the window to at least `count` bits (count <= 57) unless a marker, the end of the
  // file or a read error comes first; returns the bits available.
  int fill(int count);
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
