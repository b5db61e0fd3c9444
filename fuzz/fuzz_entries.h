// The bodies of the libFuzzer targets, shared with the corpus replay in the test suite so that
// every saved input is run through exactly the code the fuzzers exercise. Each returns whether
// the input was accepted (parsed, opened or decoded); anything that breaks an invariant traps.
// Hostile input may only ever end in a thrown exception or an error status.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "codec/block_coder.h"
#include "codec/ht_desc_io.h"
#include "decoder/decoded_image.h"
#include "decoder/reader_access.h"
#include "decoder/vxl_check.h"
#include "decoder/vxl_file.h"
#include "image/image_factory.h"
#include "metadata/metadata.h"
#include "platform/temp_file.h"
#include "vexal/reader.h"

namespace fuzz_entries {

// The input is a table (BITS, HUFFVAL) followed by coded streams, as records follow one
// another in a file.
inline bool expand_data_entry(const uint8_t* data, size_t size) {
  if (size == 0) return false;
  std::vector<uint8_t> bytes(data, data + size);
  FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
  if (in == nullptr) return false;
  HuffmanTableDescriptor desc;
  bool accepted = false;
  if (read_ht_desc_fields(in, desc) == 0) {
    std::vector<int16_t> out(128 * 128);
    size_t count = 0;
    while (expand_data(in, desc, out, count) == 0 && count > 0) {
      if (count > out.size()) __builtin_trap();
      accepted = true;
    }
  }
  fclose(in);
  return accepted;
}

// A metadata block that parses must serialise back to exactly the bytes that were parsed.
inline bool metadata_read_entry(const uint8_t* data, size_t size) {
  MetadataList list;
  size_t consumed = 0;
  if (metadata_read(&list, data, size, &consumed) != 0) return false;
  std::vector<uint8_t> again;
  if (metadata_serialize(&list, &again) != 0) __builtin_trap();
  if (again.size() != consumed || !std::equal(again.begin(), again.end(), data)) __builtin_trap();
  return true;
}

// Readers take file names, so the bytes go to a private temporary file first.
class BytesFile {
 public:
  BytesFile(const uint8_t* data, size_t size) : file_(nullptr) {
    if (size > 0 && std::fwrite(data, 1, size, file_.stream()) != size) throw std::exception();
    if (!file_.close()) throw std::exception();
  }
  const Quorvale::FileSpecification& name() const { return file_.name(); }

 private:
  Quorvale::ScopedTempFile file_;
};

// Samples of coded blocks above which an input is left undecoded: the structural walk decodes
// every record, and a few hundred thousand samples already take a millisecond.
constexpr int64_t kFuzzCodedSamples = int64_t(1) << 17;

// Samples of every coded block of every band, from the tables alone (the file refuses blocks
// that overlap, so this bounds what any decode of it costs).
inline int64_t coded_samples(const VxlFile& file) {
  int64_t samples = 0;
  for (const VxlSubband& s : file.subbands())
    for (const VxlBlock& b : s.blocks)
      for (uint32_t offset : b.band_offsets)
        if (offset != 0) samples += int64_t(b.x1 - b.x0 + 1) * (b.y1 - b.y0 + 1);
  return samples;
}

// A .vxl file opens, passes the structural walk and decodes a small window at full size and
// the smallest scale, or fails with an exception. Windows stay small because a hostile header
// may announce an enormous image.
inline bool vxl_reader_entry(const uint8_t* data, size_t size) {
  try {
    const BytesFile bytes(data, size);
    const VxlFile file(bytes.name().str());
    if (coded_samples(file) > kFuzzCodedSamples) return false;
    check_vxl_structure(file);
    const int w = std::min(file.width(), 64), h = std::min(file.height(), 64);
    const DecodedImage full = decode_image(file, 0, Window{0, 0, w - 1, h - 1});
    if (full.width != w || full.height != h) __builtin_trap();
    decode_image(file, file.levels(), Window{0, 0, 0, 0});
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// The public vexal::Reader as a viewer uses it: the description, then small windows at the
// corners of the full size, a middle level and the coarsest level, which must equal the same
// region read in four pieces. Misuse and damage may only ever end in vexal::Error; any other
// exception escapes and counts as a finding.
inline bool public_reader_entry(const uint8_t* data, size_t size) {
  const BytesFile bytes(data, size);
  try {
    vexal::Reader reader(bytes.name().str());
    if (coded_samples(vexal::ReaderAccess::file(reader)) > kFuzzCodedSamples) return false;
    (void)reader.metadata();
    (void)reader.georeferencing_as_geotiff();
    reader.set_cache_limit(data[size - 1] & 1 ? 0 : size_t(1) << 20);
    const size_t sample = vexal::sample_size(reader.sample_type()) * size_t(reader.bands());
    std::vector<uint8_t> whole, piece;
    auto read = [&](std::vector<uint8_t>& into, int level, int x0, int y0, int x1, int y1) {
      into.resize(size_t(x1 - x0 + 1) * size_t(y1 - y0 + 1) * sample);
      reader.read(level, x0, y0, x1, y1, into.data());
    };
    for (const int level : {0, reader.levels() / 2, reader.levels()}) {
      const int w = reader.level_width(level), h = reader.level_height(level);
      if (w < 1 || h < 1) __builtin_trap();
      const int x0 = std::max(0, w - 12), y0 = std::max(0, h - 12);
      read(whole, level, x0, y0, w - 1, h - 1);
      // The same corner in four pieces, band after band and row after row.
      const int xm = (x0 + w) / 2, ym = (y0 + h) / 2, cw = w - x0, ch = h - y0;
      for (const auto& [px0, py0, px1, py1] : {std::array<int, 4>{x0, y0, xm - 1, ym - 1},
                                              {xm, y0, w - 1, ym - 1}, {x0, ym, xm - 1, h - 1},
                                              {xm, ym, w - 1, h - 1}}) {
        if (px1 < px0 || py1 < py0) continue;
        read(piece, level, px0, py0, px1, py1);
        const size_t one = sample / size_t(reader.bands()), pw = size_t(px1 - px0 + 1);
        for (int b = 0; b < reader.bands(); ++b)
          for (int y = py0; y <= py1; ++y) {
            const uint8_t* got = piece.data() + ((size_t(b) * size_t(py1 - py0 + 1) +
                                                  size_t(y - py0)) * pw) * one;
            const uint8_t* want = whole.data() + ((size_t(b) * size_t(ch) + size_t(y - y0)) *
                                                  size_t(cw) + size_t(px0 - x0)) * one;
            if (std::memcmp(got, want, pw * one) != 0) __builtin_trap();
          }
      }
      read(piece, level, 0, 0, std::min(w, 8) - 1, std::min(h, 8) - 1);
    }
    // Requests outside the file are refused, never read.
    bool refused = false;
    try {
      reader.read(reader.levels() + 1, 0, 0, 0, 0, piece.data());
    } catch (const vexal::Error&) {
      refused = true;
    }
    if (!refused) __builtin_trap();
    return true;
  } catch (const vexal::Error&) {
    return false;
  }
}

// The same bytes again beside a file, under the name with another extension, for readers
// whose header lives in a file of its own.
class SidecarFile {
 public:
  SidecarFile(const Quorvale::FileSpecification& beside, const char* extension,
              const uint8_t* data, size_t size)
      : name_(beside) {
    if (extension == nullptr) return;
    name_.set_extension(extension);
    FILE* f = std::fopen(name_.path(), "wbx");
    if (f == nullptr) throw std::exception();
    written_ = true;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok) throw std::exception();
  }
  ~SidecarFile() {
    if (written_) std::remove(name_.path());
  }
  SidecarFile(const SidecarFile&) = delete;
  SidecarFile& operator=(const SidecarFile&) = delete;

 private:
  Quorvale::FileSpecification name_;
  bool written_ = false;
};

// An image reader built by the factory from its type word reads its header and delivers a
// small section at the corner, and the whole image overhung by a pixel on every side when it
// is small enough to read quickly.
// `header_extension`: the reader also reads a header file of that extension (the same bytes).
inline bool image_reader_entry(const char* type_word, const uint8_t* data, size_t size,
                               const char* header_extension = nullptr) {
  try {
    const BytesFile bytes(data, size);
    const SidecarFile header(bytes.name(), header_extension, data, size);
    const std::unique_ptr<Image> image = create_image(bytes.name(), type_word, nullptr, nullptr);
    if (image->image_width <= 0 || image->image_height <= 0 || image->nband <= 0) return true;
    int section[2][2] = {{0, std::min(image->image_width, 16) - 1},
                         {0, std::min(image->image_height, 16) - 1}};
    if (!image->extract(section)) __builtin_trap();
    if (int64_t(image->image_width) * image->image_height * image->nband <= (1 << 22)) {
      int whole[2][2] = {{-1, image->image_width}, {-1, image->image_height}};
      if (!image->extract(whole)) __builtin_trap();
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace fuzz_entries
