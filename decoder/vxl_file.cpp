#include "decoder/vxl_file.h"

#include <algorithm>
#include <cstring>

#include "decoder/subband_geometry.h"
#include "encoder/image/image.h"
#include "encoder/metadata/nodata_mask.h"
#include "platform/error.h"

namespace {

constexpr int kMaxLevels = 9;
// Reads jump from table to record to record: a full-size stdio buffer would pull several
// kilobytes past each small record, so a window decode would read far more than it uses.
constexpr size_t kReadBuffer = 512;

}  // namespace

VxlFile::VxlFile(const std::string& name) : name_(name) {
  stream_ = std::fopen(name.c_str(), "rb");
  if (!stream_) throw OpenError(name, "read");
  buffer_ = std::make_unique<char[]>(kReadBuffer);  // glibc ignores the size without a buffer
  std::setvbuf(stream_, buffer_.get(), _IOFBF, kReadBuffer);
  try {
    if (fseeko(stream_, 0, SEEK_END) != 0) throw ReadError(name);
    size_ = static_cast<uint64_t>(ftello(stream_));
    seek(0);
    read_header();
  } catch (...) {
    std::fclose(stream_);
    metadata_destroy(&metadata_);
    throw;
  }
}

VxlFile::~VxlFile() {
  if (stream_) std::fclose(stream_);
  metadata_destroy(&metadata_);
}

void VxlFile::seek(uint64_t offset) const {
  if (offset >= size_ || fseeko(stream_, static_cast<off_t>(offset), SEEK_SET) != 0)
    damaged("offset " + std::to_string(offset) + " lies outside the file");
}

void VxlFile::damaged(const std::string& what) const {
  throw Error(name_ + ": damaged file: " + what + ".");
}

uint32_t VxlFile::read_u32() const {
  uint8_t b[4];
  if (std::fread(b, 1, 4, stream_) != 4) damaged("unexpected end of file");
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

void VxlFile::expect_marker(uint8_t code, const std::string& what) const {
  uint8_t m[2];
  if (std::fread(m, 1, 2, stream_) != 2 || m[0] != 0xFF || m[1] != code)
    damaged("no " + what + " marker where the tables point");
}

void VxlFile::read_header() {
  char soi[7];
  if (std::fread(soi, 1, 7, stream_) != 7 || std::memcmp(soi, "vexl", 4) != 0)
    throw Error(name_ + " is not a Vexal file.");
  if (soi[4] != 1 || soi[5] != 0 || soi[6] != 1)
    throw Error(name_ + ": unsupported Vexal file version.");
  const uint32_t bands = read_u32(), levels = read_u32(), width = read_u32(), height = read_u32();
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
  const int count = subband_count(levels_);
  subbands_.resize(size_t(count));
  for (VxlSubband& s : subbands_) s.offset = read_u32();
  expect_marker(0xD0, "start-of-body");
  const uint32_t metadata_offset = read_u32();
  for (int i = 0; i < count; ++i) read_subband(i);
  check_size_against_low_pass_blocks();
  read_metadata(metadata_offset);
  for (const VxlSubband& s : subbands_) {
    starts_.push_back(s.offset);
    for (const VxlBlock& b : s.blocks)
      for (uint32_t o : b.band_offsets)
        if (o != 0) starts_.push_back(o);
  }
  starts_.push_back(metadata_offset);
  std::sort(starts_.begin(), starts_.end());
}

uint64_t VxlFile::end_of_structure(uint64_t offset) const {
  const auto next = std::upper_bound(starts_.begin(), starts_.end(), offset);
  return next == starts_.end() ? size_ : *next;
}

void VxlFile::read_subband(int index) {
  VxlSubband& s = subbands_[size_t(index)];
  const std::string what = "subband " + std::to_string(index);
  seek(s.offset);
  expect_marker(0xAC, what + " section");
  uint8_t dither[2];
  if (std::fread(dither, 1, 2, stream_) != 2) damaged("unexpected end of file");
  s.dither_x = dither[0];
  s.dither_y = dither[1];
  const uint32_t n = read_u32();
  // Each block takes 4 x (B + 4) bytes of table: a count the file cannot hold is damage.
  if (uint64_t(n) * 4 * uint64_t(bands_ + 4) > size_) damaged(what + " block count");
  const SubbandRect rect = subband_rect(index, levels_, width_, height_);
  s.blocks.resize(n);
  for (VxlBlock& b : s.blocks) {
    b.band_offsets.resize(size_t(bands_));
    for (uint32_t& o : b.band_offsets) o = read_u32();
    b.x0 = int(read_u32());
    b.y0 = int(read_u32());
    b.x1 = int(read_u32());
    b.y1 = int(read_u32());
    bool any = false;
    for (uint32_t o : b.band_offsets) any = any || o != 0;
    if (!any) continue;
    if (b.x0 < 0 || b.y0 < 0 || b.x1 < b.x0 || b.y1 < b.y0 || b.x1 >= rect.width ||
        b.y1 >= rect.height)
      damaged(what + " block rectangle outside the subband");
    for (uint32_t o : b.band_offsets)
      if (o != 0 && o >= size_) damaged(what + " block offset outside the file");
  }
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

void VxlFile::read_metadata(uint32_t offset) {
  if (offset >= size_) damaged("metadata offset outside the file");
  std::vector<uint8_t> bytes(size_t(size_ - offset));
  seek(offset);
  if (std::fread(bytes.data(), 1, bytes.size(), stream_) != bytes.size())
    damaged("unexpected end of file in the metadata");
  size_t consumed = 0;
  if (metadata_read(&metadata_, bytes.data(), bytes.size(), &consumed) != 0)
    damaged("metadata block");
  if (consumed + 2 > bytes.size() || bytes[consumed] != 0xFF || bytes[consumed + 1] != 0xA1)
    damaged("no end-of-file marker after the metadata");
  read_nodata_mask();
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
