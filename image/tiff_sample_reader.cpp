#include "image/tiff_sample_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace {

// Largest strip or tile decoded in one piece; larger strips are decoded row by row.
uint64_t g_max_unit_bytes = 64ull << 20;
// Decoded images up to this size in all (over every open reader) are kept in memory.
uint64_t g_memory_budget = 64ull << 20;
uint64_t g_memory_in_use = 0;

uint64_t ceil_div(uint64_t a, uint64_t b) { return (a + b - 1) / b; }

// One positioned read of `length` bytes (a few calls when the system hands over less): no seek
// and no stream buffer between the file and the caller's row.
bool read_at(int fd, uint64_t position, uint64_t length, uint8_t* out) {
  while (length > 0) {
    const ssize_t got = ::pread(fd, out, size_t(length), off_t(position));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    out += got, position += uint64_t(got), length -= uint64_t(got);
  }
  return true;
}

// n samples of `size` bytes, one every `stride` bytes of `out`.
template <size_t size>
void spread(const uint8_t* in, uint32_t n, uint64_t stride, uint8_t* out) {
  for (uint32_t i = 0; i < n; ++i, in += size, out += stride) std::memcpy(out, in, size);
}

}  // namespace

TiffSampleReader::TiffSampleReader(std::string file, const TiffFields& fields)
    : file_(std::move(file)), fields_(fields) {}

TiffSampleReader::~TiffSampleReader() {
  end();
  g_memory_in_use -= memory_.size();
}

void TiffSampleReader::set_memory_budget(uint64_t bytes) { g_memory_budget = bytes; }

void TiffSampleReader::set_unit_limit(uint64_t bytes) { g_max_unit_bytes = bytes; }

void TiffSampleReader::set_temp_directory(const Quorvale::FileSpecification* temp_dir) {
  temp_dir_ = temp_dir;
}

void TiffSampleReader::begin() {
  end();
  tif_ = std::make_unique<TiffHandle>(file_);
  TIFF* tif = tif_->get();
  if (!tif) throw OpenError(file_, "read");
  if (fields_.photometric == PHOTOMETRIC_YCBCR)
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  if (unit_width_ == 0) measure(tif);
  byte_swapped_ = TIFFIsByteSwapped(tif) != 0;
  if (!compressed_) {
    source_ = ::open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    if (source_ < 0) throw OpenError(file_, "read");
  }
}

void TiffSampleReader::end() {
  if (source_ >= 0) ::close(source_);
  source_ = -1;
  tif_.reset();
}

// Unit geometry from libtiff's own sizes, checked against a plain packed layout so that every
// offset computed below stays inside the unit.
void TiffSampleReader::measure(TIFF* tif) {
  const TiffFields& f = fields_;
  planes_ = f.planar ? f.samples_per_pixel : 1;
  unit_samples_ = f.samples_per_pixel / planes_;
  if (f.tiled) {
    unit_width_ = static_cast<uint32_t>(f.tile_width);
    unit_height_ = static_cast<uint32_t>(f.tile_length);
    unit_row_bytes_ = TIFFTileRowSize64(tif);
  } else {
    unit_width_ = f.width;
    unit_height_ = f.rows_per_strip == 0 ? f.length : std::min(f.rows_per_strip, f.length);
    unit_row_bytes_ = TIFFScanlineSize64(tif);
  }
  uint64_t packed_row =
      ceil_div(uint64_t{unit_width_} * unit_samples_ * f.bits_per_sample, 8);
  if (f.tiled && (f.tile_width <= 0 || f.tile_length <= 0)) unit_width_ = 0;
  if (unit_width_ == 0 || unit_height_ == 0 || unit_row_bytes_ != packed_row)
    throw Error(format_message("Error: the file %s has a strip or tile layout this program "
                               "cannot read.",
                               file_.c_str()));
  unit_bytes_ = unit_row_bytes_ * unit_height_;
  units_across_ = static_cast<uint32_t>(ceil_div(f.width, unit_width_));
  units_down_ = static_cast<uint32_t>(ceil_div(f.length, unit_height_));
  uint64_t units = uint64_t{units_across_} * units_down_ * planes_;
  uint64_t stored = f.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  if (stored < units) throw ReadError(file_);
  compressed_ = f.compression != COMPRESSION_NONE;
  if (!compressed_) return;
  if (unit_bytes_ > g_max_unit_bytes) {
    if (f.tiled)
      throw Error(format_message("Error: the tiles of %s are too large to read.", file_.c_str()));
    by_scanline_ = true;
  }
  decoded_.assign(units, false);
}

void TiffSampleReader::read_run(uint32_t row, uint32_t col0, uint32_t n, uint8_t* samples) {
  if (planes_ == 1) return read_plane_run(0, row, col0, n, samples);
  // Each plane's run is read on its own and its samples put in their place in every pixel.
  const uint32_t size = std::max(fields_.bits_per_sample / 8u, 1u);
  const uint64_t stride = uint64_t{planes_} * size;
  plane_run_.resize(uint64_t{n} * size);
  for (uint32_t plane = 0; plane < planes_; ++plane) {
    read_plane_run(plane, row, col0, n, plane_run_.data());
    uint8_t* out = samples + uint64_t{plane} * size;
    if (size == 1) spread<1>(plane_run_.data(), n, stride, out);
    else if (size == 2) spread<2>(plane_run_.data(), n, stride, out);
    else spread<4>(plane_run_.data(), n, stride, out);
  }
}

void TiffSampleReader::read_plane_run(uint32_t plane, uint32_t row, uint32_t col0, uint32_t n,
                                      uint8_t* samples) {
  const uint32_t spp = unit_samples_;
  const uint32_t bits = fields_.bits_per_sample;
  const uint32_t unit_row = row / unit_height_;
  const uint64_t row_offset = uint64_t{row - unit_row * unit_height_} * unit_row_bytes_;
  for (uint32_t col = col0; col < col0 + n;) {
    uint32_t unit_col = col / unit_width_;
    uint32_t col_in_unit = col - unit_col * unit_width_;
    uint32_t take = std::min(unit_width_ - col_in_unit, col0 + n - col);
    uint64_t first_bit = uint64_t{col_in_unit} * spp * bits;
    uint64_t bit_count = uint64_t{take} * spp * bits;
    uint64_t first_byte = first_bit / 8;
    uint64_t length = ceil_div(first_bit + bit_count, 8) - first_byte;
    // 1-bit samples take a byte each; whole bytes go straight to the caller.
    uint8_t* out = samples + uint64_t{col - col0} * spp * std::max(bits / 8, 1u);
    const uint32_t unit = (plane * units_down_ + unit_row) * units_across_ + unit_col;
    if (bits % 8 == 0) {
      fetch(unit, row_offset + first_byte, length, out);
    } else {
      scratch_.resize(length);
      fetch(unit, row_offset + first_byte, length, scratch_.data());
      uint32_t bit = static_cast<uint32_t>(first_bit % 8);
      for (uint64_t k = 0; k < uint64_t{take} * spp; ++k, ++bit)
        out[k] = (scratch_[bit >> 3] >> (7 - (bit & 7))) & 1;
    }
    col += take;
  }
}

void TiffSampleReader::fetch(uint32_t unit, uint64_t offset, uint64_t length, uint8_t* out) {
  if (!compressed_) return fetch_direct(unit, offset, length, out);
  ensure_decoded(unit);
  uint64_t position = uint64_t{unit} * unit_bytes_ + offset;
  if (!temp_) {
    std::memcpy(out, memory_.data() + position, length);
    return;
  }
  // One positioned read: a seek on the stream would drop its buffer and refill it for every
  // run, and for every plane of it when the samples lie in separate planes.
  if (!read_at(fileno(temp_->stream()), position, length, out))
    throw ReadError(temp_->name().str());
}

void TiffSampleReader::fetch_direct(uint32_t unit, uint64_t offset, uint64_t length,
                                    uint8_t* out) {
  int failed = 0;
  uint64_t start = TIFFGetStrileOffsetWithErr(tif_->get(), unit, &failed);
  uint64_t count = failed ? 0 : TIFFGetStrileByteCountWithErr(tif_->get(), unit, &failed);
  // A strip that claims fewer bytes than its rows need is damaged, as is a short file.
  if (failed || offset + length > count ||
      !read_at(source_, start + offset, length, out))
    throw ReadError(file_);
  bytes_decoded_ += length;
  if (fields_.fill_order == FILLORDER_LSB2MSB) TIFFReverseBits(out, static_cast<tmsize_t>(length));
  // libtiff hands decoded strips over in host order; samples read in place are swapped here.
  if (byte_swapped_ && fields_.bits_per_sample == 16)
    TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(out), static_cast<tmsize_t>(length / 2));
  else if (byte_swapped_ && fields_.bits_per_sample == 32)
    TIFFSwabArrayOfLong(reinterpret_cast<uint32_t*>(out), static_cast<tmsize_t>(length / 4));
}

void TiffSampleReader::ensure_decoded(uint32_t unit) {
  if (decoded_[unit]) return;
  open_store();
  if (by_scanline_)
    decode_all_by_scanline();
  else
    decode_unit(unit);
  // Stored data is read back past the stream's buffer.
  if (temp_ && std::fflush(temp_->stream()) != 0) throw WriteError(temp_->name().str());
}

void TiffSampleReader::open_store() {
  if (store_open_) return;
  uint64_t total = unit_bytes_ * decoded_.size();
  if (g_memory_in_use + total <= g_memory_budget) {
    memory_.assign(total, 0);
    g_memory_in_use += total;
  } else {
    temp_.emplace(temp_dir_);
  }
  store_open_ = true;
}

void TiffSampleReader::decode_unit(uint32_t unit) {
  std::vector<uint8_t> buffer(unit_bytes_, 0);
  TIFF* tif = tif_->get();
  tmsize_t size = static_cast<tmsize_t>(unit_bytes_);
  tmsize_t got = fields_.tiled ? TIFFReadEncodedTile(tif, unit, buffer.data(), size)
                               : TIFFReadEncodedStrip(tif, unit, buffer.data(), size);
  if (got < 0) {
    if (tif_->error().empty()) throw ReadError(file_);
    throw Error(ReadError(file_).message() + std::string(" (") + tif_->error() + ")");
  }
  store(uint64_t{unit} * unit_bytes_, buffer.data(), unit_bytes_);
  decoded_[unit] = true;
  ++units_decoded_;
  bytes_decoded_ += static_cast<uint64_t>(got);
}

// One pass over the whole image, for strips too large to hold: libtiff decodes scan lines
// only in order, so every row is stored on the way.
void TiffSampleReader::decode_all_by_scanline() {
  std::vector<uint8_t> line(unit_row_bytes_, 0);
  const uint64_t plane_bytes = uint64_t{units_down_} * units_across_ * unit_bytes_;
  for (uint32_t plane = 0; plane < planes_; ++plane)
    for (uint32_t row = 0; row < fields_.length; ++row) {
      if (TIFFReadScanline(tif_->get(), line.data(), row, static_cast<uint16_t>(plane)) < 0) {
        if (tif_->error().empty()) throw ReadError(file_);
        throw Error(ReadError(file_).message() + std::string(" (") + tif_->error() + ")");
      }
      store(plane * plane_bytes + uint64_t{row} * unit_row_bytes_, line.data(), unit_row_bytes_);
    }
  std::fill(decoded_.begin(), decoded_.end(), true);
  units_decoded_ += decoded_.size();
  bytes_decoded_ += uint64_t{unit_row_bytes_} * fields_.length * planes_;
}

void TiffSampleReader::store(uint64_t position, const uint8_t* data, uint64_t length) {
  if (!temp_) {
    std::memcpy(memory_.data() + position, data, length);
    return;
  }
  FILE* stream = temp_->stream();
  if (fseeko(stream, static_cast<off_t>(position), SEEK_SET) != 0 ||
      std::fwrite(data, 1, length, stream) != length)
    throw TempWriteError(temp_->name().str());
}
