// Which pixels of an image are nodata, as runs per row: the content of the record
// "IMAGE::NODATA_MASK", so that a decoder can put the nodata value back exactly where the
// source had it. Encoded as unsigned LEB128 numbers: width, height, then for each row its run
// count and, per run, the gap since the previous run's end and the run's length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class NodataMask {
 public:
  NodataMask() = default;
  NodataMask(int width, int height);

  // Marks columns x0 .. x1 (inclusive) of row y; runs that touch are merged.
  void add_run(int y, int x0, int x1);
  bool is_nodata(int x, int y) const;
  bool empty() const;
  int width() const { return width_; }
  int height() const { return height_; }

  std::vector<uint8_t> encode() const;
  // Throws Error on bytes that do not describe a mask.
  static NodataMask decode(const uint8_t* data, size_t size);

 private:
  struct Run {
    int x0, x1;
  };
  int width_ = 0, height_ = 0;
  std::vector<std::vector<Run>> rows_;
};
