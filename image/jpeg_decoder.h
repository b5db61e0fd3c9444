// The libjpeg adapter: one decompressor reading one open file from top to bottom. libjpeg's
// failures, and its warnings that mean pixels were lost (truncated or corrupt data), come out
// as Error with libjpeg's own message instead of ending the process inside the library; after
// one, the decoder refuses every further call with the same message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class JpegDecoder {
 public:
  // Opens the file and reads its header; OpenError ("read") when it cannot be opened.
  explicit JpegDecoder(const std::string& path);
  ~JpegDecoder();
  JpegDecoder(const JpegDecoder&) = delete;
  JpegDecoder& operator=(const JpegDecoder&) = delete;

  int width() const;
  int height() const;
  // Components of each decoded pixel: 1 grey, 3 RGB, 4 CMYK; others as stored.
  int components() const;
  bool cmyk() const;
  // Adobe APP14 marker present: CMYK samples are stored inverted (0 is full ink).
  bool adobe_marker() const;

  // Starts decompression; the first read_row then gives row 0.
  void start();
  // Decodes the next row into `row` (width x components bytes, pixel-interleaved).
  void read_row(uint8_t* row);

 private:
  struct State;
  void check(bool ok);

  std::unique_ptr<State> state_;
  std::string path_;
};
