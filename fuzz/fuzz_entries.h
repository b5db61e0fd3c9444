// The bodies of the libFuzzer targets, shared with the corpus replay in the test suite so that
// every saved input is run through exactly the code the fuzzers exercise. Each returns whether
// the input was accepted (parsed, opened or decoded); anything that breaks an invariant traps.
// Hostile input may only ever end in a thrown exception or an error status.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "decoder/decoded_image.h"
#include "decoder/vxl_check.h"
#include "decoder/vxl_file.h"
#include "encoder/format/block_coder.h"
#include "encoder/format/ht_desc_io.h"
#include "encoder/image/image_factory.h"
#include "encoder/metadata/metadata.h"
#include "platform/temp_file.h"

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

// A .vxl file opens, passes the structural walk and decodes a small window at full size and
// the smallest scale, or fails with an exception. Windows stay small because a hostile header
// may announce an enormous image.
inline bool vxl_reader_entry(const uint8_t* data, size_t size) {
  try {
    const BytesFile bytes(data, size);
    const VxlFile file(bytes.name().str());
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
