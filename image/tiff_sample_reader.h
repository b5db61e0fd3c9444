// Random access to the samples of a TIFF image, one row run at a time, for strip and tile
// layouts alike, the samples of a pixel interleaved or in separate planes. Uncompressed data
// is read straight from the file at its offsets. Compressed strips and tiles (of each plane)
// are decoded once each, the first time a run needs them, into a store that lives as long as
// the reader: memory for small images, a temporary file for large ones. Block requests in any
// order therefore cost one decode of the image in all, with memory bounded by one strip or
// tile.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/tiff_fields.h"
#include "image/tiff_handle.h"
#include "platform/file_specification.h"
#include "platform/temp_file.h"

class TiffSampleReader {
 public:
  // `fields` must describe the file's first directory. The decoded store is made in
  // `temp_dir` (null: the system's temporary folder).
  TiffSampleReader(std::string file, const TiffFields& fields);
  ~TiffSampleReader();
  TiffSampleReader(const TiffSampleReader&) = delete;
  TiffSampleReader& operator=(const TiffSampleReader&) = delete;

  void set_temp_directory(const Quorvale::FileSpecification* temp_dir);

  // Opens the file for a series of read_run calls; end() (or destruction) closes it.
  void begin();
  void end();
  // Samples of columns col0 .. col0 + n - 1 of `row`, samples_per_pixel samples per pixel, in
  // file order and host byte order; 1-bit samples become bytes of 0 or 1. begin() must have
  // been called.
  void read_run(uint32_t row, uint32_t col0, uint32_t n, uint8_t* samples);

  // Strips or tiles decoded so far (each one at most once).
  uint64_t units_decoded() const { return units_decoded_; }
  // Bytes decoded by libtiff plus bytes read in place from uncompressed files.
  uint64_t bytes_decoded() const { return bytes_decoded_; }
  // True once decoded data lives in a temporary file.
  bool uses_temp_file() const { return temp_.has_value(); }
  // Bytes of decoded images held in memory over all readers before temporary files are used
  // (tests only; the default suits the encoder's memory target).
  static void set_memory_budget(uint64_t bytes);
  // Bytes of the largest strip decoded in one piece; larger strips are decoded row by row and
  // larger tiles refused (tests only; default 64 MiB).
  static void set_unit_limit(uint64_t bytes);

 private:
  void measure(TIFF* tif);
  // read_run within one plane: unit_samples_ samples per pixel, from that plane's units.
  void read_plane_run(uint32_t plane, uint32_t row, uint32_t col0, uint32_t n, uint8_t* out);
  void fetch(uint32_t unit, uint64_t offset, uint64_t length, uint8_t* out);
  void fetch_direct(uint32_t unit, uint64_t offset, uint64_t length, uint8_t* out);
  void ensure_decoded(uint32_t unit);
  void decode_unit(uint32_t unit);
  void decode_all_by_scanline();
  void store(uint64_t position, const uint8_t* data, uint64_t length);
  void open_store();

  std::string file_;
  TiffFields fields_;
  const Quorvale::FileSpecification* temp_dir_ = nullptr;

  // Layout: units (strips or tiles) of unit_width x unit_height pixels, row-major, plane
  // after plane; a plane holds unit_samples_ samples of each pixel (all of them when the
  // samples are interleaved, one when each has its own plane).
  uint32_t unit_width_ = 0, unit_height_ = 0, units_across_ = 0, units_down_ = 0;
  uint32_t planes_ = 1, unit_samples_ = 0;
  uint64_t unit_row_bytes_ = 0, unit_bytes_ = 0;
  bool compressed_ = false;
  bool by_scanline_ = false;  // strips too large to decode one at a time
  bool byte_swapped_ = false;  // the file's byte order is not the host's

  std::unique_ptr<TiffHandle> tif_;
  int source_ = -1;  // the file, for uncompressed samples read in place
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> plane_run_;  // one plane's run, before it is interleaved

  std::vector<bool> decoded_;
  std::vector<uint8_t> memory_;  // the store when it is held in memory
  std::optional<Quorvale::ScopedTempFile> temp_;
  bool store_open_ = false;
  uint64_t units_decoded_ = 0;
  uint64_t bytes_decoded_ = 0;
};
