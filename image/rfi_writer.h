// Writes RFI raw float images (see rfi_image.h for the layout). The file is created whole at
// once (header and zero samples), so runs of samples can then be placed in any order.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/file_specification.h"

class RFIWriter {
 public:
  // Creates or truncates the file; OpenError ("write") or WriteError on failure.
  RFIWriter(const Quorvale::FileSpecification& file, int width, int height, int bands);
  // Closes without checking; call close() to learn whether the data reached the file.
  ~RFIWriter();
  RFIWriter(const RFIWriter&) = delete;
  RFIWriter& operator=(const RFIWriter&) = delete;

  // Writes n samples of `band` at (row, col .. col + n - 1); Error when outside the raster.
  void write_run(int band, int row, int col, const float* samples, int n);
  // Writes a whole band, width x height samples, rows top to bottom.
  void write_band(int band, const float* plane);
  // WriteError when anything written could not be stored.
  void close();

 private:
  void write_bytes(const void* data, size_t n);

  Quorvale::FileSpecification file_;
  FILE* stream_ = nullptr;
  int width_, height_, bands_;
};

// Writes a whole planar image (bands x height x width floats) as one RFI file.
void write_rfi(const Quorvale::FileSpecification& file, int width, int height, int bands,
               const float* planes);
