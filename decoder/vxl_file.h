// An open .vxl file: the header, the subband offset table, every subband's block table and the
// metadata records, all checked against the file's size and markers when the file is opened,
// so that later reads go only where the tables say and a damaged file fails with a message
// naming what is wrong.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "encoder/metadata/metadata.h"
#include "encoder/metadata/nodata_mask.h"

struct VxlBlock {
  // Offset of the block-and-band header (0xFF 0xAA) per band; 0 when the band has no data.
  std::vector<uint32_t> band_offsets;
  int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive, in the subband's coordinates
};

struct VxlSubband {
  uint32_t offset = 0;  // of its 0xFF 0xAC marker
  uint8_t dither_x = 0, dither_y = 0;
  std::vector<VxlBlock> blocks;
};

class VxlFile {
 public:
  // Opens and checks the file; throws Error naming the file and the damage.
  explicit VxlFile(const std::string& name);
  ~VxlFile();
  VxlFile(const VxlFile&) = delete;
  VxlFile& operator=(const VxlFile&) = delete;

  const std::string& name() const { return name_; }
  int bands() const { return bands_; }
  int levels() const { return levels_; }
  int width() const { return width_; }
  int height() const { return height_; }
  uint64_t size() const { return size_; }
  const std::vector<VxlSubband>& subbands() const { return subbands_; }
  const MetadataList& metadata() const { return metadata_; }
  // The record IMAGE::NODATA_MASK, decoded (checked when the file is opened).
  const NodataMask& nodata_mask() const { return nodata_mask_; }
  FILE* stream() const { return stream_; }

  // Where the structure at `offset` ends at the latest: the next section, block part or
  // metadata start the tables name, or the end of the file.
  uint64_t end_of_structure(uint64_t offset) const;
  // Seeks to an offset taken from the tables (already known to lie inside the file).
  void seek(uint64_t offset) const;
  // Throws Error "<file>: damaged file: <what>".
  [[noreturn]] void damaged(const std::string& what) const;

 private:
  void read_header();
  void read_subband(int index);
  void check_size_against_low_pass_blocks() const;
  void read_metadata(uint32_t offset);
  void read_nodata_mask();
  uint32_t read_u32() const;
  void expect_marker(uint8_t code, const std::string& what) const;

  std::string name_;
  FILE* stream_ = nullptr;
  std::unique_ptr<char[]> buffer_;  // the stream's, closed before it is freed
  uint64_t size_ = 0;
  int bands_ = 0, levels_ = 0, width_ = 0, height_ = 0;
  std::vector<VxlSubband> subbands_;
  std::vector<uint64_t> starts_;  // sorted offsets of every structure the tables name
  MetadataList metadata_;
  NodataMask nodata_mask_;
};
