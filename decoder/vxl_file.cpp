#include "decoder/vxl_file.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>

#include "decoder/band_part.h"
#include "decoder/byte_sources.h"
#include "decoder/subband_geometry.h"
#include "metadata/image_codes.h"
#include "metadata/nodata_mask.h"
#include "platform/error.h"

namespace {

constexpr int kMaxLevels = 9;
// The first read at opening: the header, and the first (coarsest, smallest) subbands' tables
// and records with it.
constexpr uint64_t kHeadBytes = 4096;
// A subband's section is first read as if its blocks were at least this many samples a side
// (as the writers' are); a longer table is read in full in one more batch.
constexpr uint64_t kSmallestBlockGuess = 256;
// Ranges closer than this are read as one: a request costs more than these bytes.
constexpr uint64_t kMergeGap = 512;
constexpr uint64_t kSectionFixedBytes = 8;  // marker, dither offsets, block count

uint32_t u32_at(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

}  // namespace

VxlFile::VxlFile(const std::string& path) : VxlFile(vexal::open_local_file(path), path) {}

VxlFile::VxlFile(std::shared_ptr<vexal::ByteSource> source, const std::string& name)
    : source_(std::move(source)), name_(name) {
  try {
    open();
  } catch (...) {
    metadata_destroy(&metadata_);
    throw;
  }
}

VxlFile::~VxlFile() { metadata_destroy(&metadata_); }

void VxlFile::damaged(const std::string& what) const {
  throw Error(name_ + ": damaged file: " + what + ".");
}

void VxlFile::fetch(const std::vector<ByteRange>& ranges, FetchedBytes& into) const {
  std::lock_guard<std::mutex> lock(reading_);
  try {
    into.fetch(*source_, ranges, kMergeGap);
  } catch (const Error&) {
    throw;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    // A caller's source knows nothing of the file's name.
    throw Error(name_ + ": " + e.what());
  }
}

std::vector<uint8_t> VxlFile::read(uint64_t offset, uint64_t end) const {
  FetchedBytes bytes;
  fetch({ByteRange{offset, end}}, bytes);
  const std::span<const uint8_t> got = bytes.find(offset, end - offset);
  return {got.begin(), got.end()};
}

void VxlFile::open() {
  size_ = source_->size();
  FetchedBytes bytes;
  fetch({ByteRange{0, std::min(size_, kHeadBytes)}}, bytes);
  read_header(bytes.find(0, std::min(size_, kHeadBytes)));
  // Sections and metadata not in the first read come in one batch, and the tables longer than
  // first guessed in one more.
  std::vector<bool> parsed(subbands_.size(), false);
  for (int round = 0;; ++round) {
    std::vector<ByteRange> missing;
    for (size_t i = 0; i < subbands_.size(); ++i) {
      uint64_t wanted = 0;
      if (!parsed[i]) parsed[i] = parse_subband(int(i), bytes, wanted);
      if (!parsed[i]) missing.push_back({subbands_[i].offset, subbands_[i].offset + wanted});
    }
    if (bytes.find(metadata_offset_, size_ - metadata_offset_).empty())
      missing.push_back({metadata_offset_, size_});
    if (missing.empty()) break;
    if (round == 2) damaged("unexpected end of file");
    fetch(missing, bytes);
  }
  check_size_against_low_pass_blocks();
  read_metadata(bytes.find(metadata_offset_, size_ - metadata_offset_));
  index_structures();
}

void VxlFile::read_header(std::span<const uint8_t> head) {
  if (head.size() < 7 || std::memcmp(head.data(), "vexl", 4) != 0)
    throw Error(name_ + " is not a Vexal file.");
  if (head[4] != 1 || head[5] != 0 || head[6] != 1)
    throw Error(name_ + ": unsupported Vexal file version.");
  if (head.size() < 23) damaged("unexpected end of file");
  const uint8_t* p = head.data() + 7;
  const uint32_t bands = u32_at(p), levels = u32_at(p + 4), width = u32_at(p + 8),
                 height = u32_at(p + 12);
  if (bands < 1 || bands > kMaxBands) damaged("band count " + std::to_string(bands));
  if (levels < 1 || levels > kMaxLevels) damaged("level count " + std::to_string(levels));
  if (width < 1 || height < 1 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
    damaged("image size " + std::to_string(width) + " x " + std::to_string(height));
  if (reduced_size(int(width), int(levels) - 1) < 2 || reduced_size(int(height), int(levels) - 1) < 2)
    damaged("image too small for " + std::to_string(levels) + " levels");
  bands_ = int(bands);
  levels_ = int(levels);
  width_ = int(width);
  height_ = int(height);
  const size_t count = size_t(subband_count(levels_));
  if (head.size() < 23 + 4 * count + 6) damaged("unexpected end of file");
  subbands_.resize(count);
  p = head.data() + 23;
  for (VxlSubband& s : subbands_) {
    s.offset = u32_at(p);
    p += 4;
    if (s.offset + kSectionFixedBytes > size_)
      damaged("offset " + std::to_string(s.offset) + " lies outside the file");
  }
  if (p[0] != 0xFF || p[1] != 0xD0) damaged("no start-of-body marker where the tables point");
  metadata_offset_ = u32_at(p + 2);
  if (metadata_offset_ >= size_) damaged("metadata offset outside the file");
}

uint64_t VxlFile::next_named_start(uint64_t offset) const {
  uint64_t next = size_;
  for (const VxlSubband& s : subbands_)
    if (s.offset > offset) next = std::min<uint64_t>(next, s.offset);
  if (metadata_offset_ > offset) next = std::min<uint64_t>(next, metadata_offset_);
  return next;
}

bool VxlFile::parse_subband(int index, const FetchedBytes& bytes, uint64_t& wanted) {
  VxlSubband& s = subbands_[size_t(index)];
  const std::string what = "subband " + std::to_string(index);
  std::span<const uint8_t> b = bytes.find(s.offset, kSectionFixedBytes);
  const SubbandRect rect = subband_rect(index, levels_, width_, height_);
  if (b.empty()) {
    const uint64_t blocks = ((uint64_t(rect.width) + kSmallestBlockGuess - 1) / kSmallestBlockGuess) *
                            ((uint64_t(rect.height) + kSmallestBlockGuess - 1) / kSmallestBlockGuess);
    wanted = std::clamp(next_named_start(s.offset) - s.offset, kSectionFixedBytes,
                        kSectionFixedBytes + blocks * 4 * uint64_t(bands_ + 4));
    return false;
  }
  if (b[0] != 0xFF || b[1] != 0xAC) damaged("no " + what + " section marker where the tables point");
  s.dither_x = b[2];
  s.dither_y = b[3];
  const uint32_t n = u32_at(&b[4]);
  // Each block takes 4 x (B + 4) bytes of table: a count the file cannot hold is damage.
  const uint64_t table = uint64_t(n) * 4 * uint64_t(bands_ + 4);
  if (table > size_) damaged(what + " block count");
  if (s.offset + kSectionFixedBytes + table > size_) damaged("unexpected end of file");
  b = bytes.find(s.offset, kSectionFixedBytes + table);
  if (b.empty()) {
    wanted = kSectionFixedBytes + table;
    return false;
  }
  const uint8_t* p = b.data() + kSectionFixedBytes;
  s.blocks.assign(n, VxlBlock{});
  // Writers tile a subband with blocks that never overlap: blocks that together cover more than
  // the subband are damage, and would let a small file decode the same area without end.
  int64_t covered = 0;
  for (VxlBlock& k : s.blocks) {
    k.band_offsets.resize(size_t(bands_));
    for (uint32_t& o : k.band_offsets) o = u32_at(p), p += 4;
    k.x0 = int(u32_at(p));
    k.y0 = int(u32_at(p + 4));
    k.x1 = int(u32_at(p + 8));
    k.y1 = int(u32_at(p + 12));
    p += 16;
    bool any = false;
    for (uint32_t o : k.band_offsets) any = any || o != 0;
    if (!any) continue;
    if (k.x0 < 0 || k.y0 < 0 || k.x1 < k.x0 || k.y1 < k.y0 || k.x1 >= rect.width ||
        k.y1 >= rect.height)
      damaged(what + " block rectangle outside the subband");
    covered += int64_t(k.x1 - k.x0 + 1) * (k.y1 - k.y0 + 1);
    if (covered > int64_t(rect.width) * rect.height) damaged(what + " blocks overlap");
    for (uint32_t o : k.band_offsets)
      if (o != 0 && o >= size_) damaged(what + " block offset outside the file");
  }
  return true;
}

// The low-pass subband's first band is always coded (its step is never zero), so the blocks of
// subband 0 tile it exactly. A header size that disagrees with them is damage, found before any
// buffer is sized from it (a 17 KB file claiming a million columns would otherwise decode into
// gigabytes of zeros).
void VxlFile::check_size_against_low_pass_blocks() const {
  const SubbandRect rect = subband_rect(0, levels_, width_, height_);
  int64_t covered = 0;
  for (const VxlBlock& b : subbands_[0].blocks)
    if (b.band_offsets[0] != 0) covered += int64_t(b.x1 - b.x0 + 1) * (b.y1 - b.y0 + 1);
  if (covered != int64_t(rect.width) * rect.height)
    damaged("image size " + std::to_string(width_) + " x " + std::to_string(height_) +
            " disagrees with the blocks of the low-pass subband");
}

void VxlFile::read_metadata(std::span<const uint8_t> bytes) {
  size_t consumed = 0;
  if (metadata_read(&metadata_, bytes.data(), bytes.size(), &consumed) != 0)
    damaged("metadata block");
  if (consumed + 2 > bytes.size() || bytes[consumed] != 0xFF || bytes[consumed + 1] != 0xA1)
    damaged("no end-of-file marker after the metadata");
  read_nodata_mask();
  read_statistics();
}

void VxlFile::read_statistics() {
  try {
    statistics_ = read_statistics_record(metadata_, bands_);
  } catch (const Error&) {
    damaged("statistics record");
  }
  try {
    histograms_ = read_histogram_record(metadata_, bands_, statistics_,
                                        double(width_) * double(height_));
  } catch (const Error&) {
    damaged("histogram record");
  }
}

// Decoded once here, so that every reader and vxl_check find a damaged mask when they open the
// file, and windows do not decode it again.
void VxlFile::read_nodata_mask() {
  const MetadataRecord* r = metadata_record(&metadata_, "IMAGE::NODATA_MASK");
  if (!r || r->type != TYPE_BYTE) return;
  try {
    nodata_mask_ = NodataMask::decode(r->values.data(), r->values.size());
  } catch (const Error&) {
    damaged("nodata mask record");
  }
}

void VxlFile::index_structures() {
  for (const VxlSubband& s : subbands_) {
    starts_.push_back(s.offset);
    for (const VxlBlock& b : s.blocks)
      for (uint32_t o : b.band_offsets)
        if (o != 0) starts_.push_back(o);
  }
  starts_.push_back(metadata_offset_);
  std::sort(starts_.begin(), starts_.end());
}

uint64_t VxlFile::end_of_structure(uint64_t offset) const {
  const auto next = std::upper_bound(starts_.begin(), starts_.end(), offset);
  return next == starts_.end() ? size_ : *next;
}

std::shared_ptr<const BandPart> VxlFile::part(const VxlBlock& block, uint32_t offset) const {
  {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    const auto it = parts_.find(offset);
    if (it != parts_.end()) return it->second;
  }
  load_parts({{&block, offset}});
  std::lock_guard<std::mutex> lock(parts_mutex_);
  return parts_.at(offset);
}

void VxlFile::load_parts(const std::vector<std::pair<const VxlBlock*, uint32_t>>& parts,
                         FetchedBytes* read) const {
  std::vector<std::pair<const VxlBlock*, uint32_t>> missing;
  std::vector<ByteRange> ranges;
  {
    std::lock_guard<std::mutex> lock(parts_mutex_);
    for (const auto& [block, offset] : parts)
      if (!parts_.count(offset)) {
        missing.emplace_back(block, offset);
        ranges.push_back({offset, std::min(end_of_structure(offset),
                                           offset + band_part_bytes_guess(*block))});
      }
  }
  if (missing.empty()) return;
  FetchedBytes own;
  FetchedBytes& bytes = read ? *read : own;
  fetch(ranges, bytes);
  for (size_t i = 0; i < missing.size(); ++i) {
    const auto [block, offset] = missing[i];
    uint64_t wanted = 0;
    std::optional<BandPart> p = parse_band_part(
        bytes.find(offset, ranges[i].end - offset), *this, *block, offset, wanted);
    if (!p) {
      // A header longer than guessed: read it whole, if the file holds it.
      if (wanted <= ranges[i].end - offset || offset + wanted > end_of_structure(offset))
        damaged("block header at offset " + std::to_string(offset));
      p = parse_band_part(this->read(offset, offset + wanted), *this, *block, offset, wanted);
      if (!p) damaged("block header at offset " + std::to_string(offset));
    }
    std::lock_guard<std::mutex> lock(parts_mutex_);
    parts_.emplace(offset, std::make_shared<const BandPart>(std::move(*p)));
  }
}
