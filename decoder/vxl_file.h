// An open .vxl file: the header, the subband offset table, every subband's block table and the
// metadata records, read in as few requests as the layout allows and checked against the
// file's size and markers when the file is opened, so that later reads go only where the tables
// say and a damaged file fails with a message naming what is wrong. The header of each
// block-and-band part is read when a window first needs it and kept.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "decoder/fetched_bytes.h"
#include "metadata/band_histogram.h"
#include "metadata/band_statistics.h"
#include "metadata/metadata.h"
#include "metadata/nodata_mask.h"
#include "vexal/byte_source.h"

struct BandPart;

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
  explicit VxlFile(const std::string& path);
  // The same over any source; `name` is what messages call it.
  VxlFile(std::shared_ptr<vexal::ByteSource> source, const std::string& name);
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
  // The record IMAGE::STATISTICS, parsed (checked when the file is opened); empty without it.
  const std::optional<std::vector<BandStatistics>>& statistics() const { return statistics_; }
  // The record IMAGE::HISTOGRAM, parsed and checked against the statistics when the file is
  // opened; empty without it.
  const std::optional<std::vector<BandHistogram>>& histograms() const { return histograms_; }

  // Where the structure at `offset` ends at the latest: the next section, block part or
  // metadata start the tables name, or the end of the file.
  uint64_t end_of_structure(uint64_t offset) const;

  // The header of the part at `offset` (one of block.band_offsets), read on first use.
  std::shared_ptr<const BandPart> part(const VxlBlock& block, uint32_t offset) const;
  // Reads the headers of these parts not yet read, all in one batch; the bytes read go into
  // `read`, when given (they reach into the first records).
  void load_parts(const std::vector<std::pair<const VxlBlock*, uint32_t>>& parts,
                  FetchedBytes* read = nullptr) const;
  // Reads `ranges` (inside the file) in one batch into `into`, merging those close together.
  void fetch(const std::vector<ByteRange>& ranges, FetchedBytes& into) const;
  // Bytes offset .. end - 1 (inside the file) in one read.
  std::vector<uint8_t> read(uint64_t offset, uint64_t end) const;

  // Throws Error "<file>: damaged file: <what>".
  [[noreturn]] void damaged(const std::string& what) const;

 private:
  void open();
  void read_header(std::span<const uint8_t> head);
  // Parses section `index` from `bytes`; false when more bytes are needed, `wanted` of them.
  bool parse_subband(int index, const FetchedBytes& bytes, uint64_t& wanted);
  void check_size_against_low_pass_blocks() const;
  void read_metadata(std::span<const uint8_t> bytes);
  void index_structures();
  uint64_t next_named_start(uint64_t offset) const;
  void read_nodata_mask();
  void read_statistics();

  std::shared_ptr<vexal::ByteSource> source_;
  std::string name_;
  uint64_t size_ = 0;
  int bands_ = 0, levels_ = 0, width_ = 0, height_ = 0;
  uint32_t metadata_offset_ = 0;
  std::vector<VxlSubband> subbands_;
  std::vector<uint64_t> starts_;  // sorted offsets of every structure the tables name
  MetadataList metadata_;
  // The source is called from one thread at a time; the parts are shared by every window.
  mutable std::mutex reading_;
  mutable std::mutex parts_mutex_;
  mutable std::unordered_map<uint32_t, std::shared_ptr<const BandPart>> parts_;
  NodataMask nodata_mask_;
  std::optional<std::vector<BandStatistics>> statistics_;
  std::optional<std::vector<BandHistogram>> histograms_;
};
