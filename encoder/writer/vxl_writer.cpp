#include "encoder/writer/vxl_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <span>
#include <string>

#include "encoder/writer/band_payload.h"
#include "platform/error.h"
#include "platform/file_copy.h"
#include "platform/temp_file.h"

using Quorvale::FileSpecification;

namespace {

// The output stream with the checks every write needs: every position the format stores is a
// 32-bit offset, so a file that would pass 4 GiB stops with an error instead of wrapping.
class VxlOutput {
 public:
  VxlOutput(FILE* f, std::string name) : f_(f), name_(std::move(name)) {}

  uint32_t position() const {
    const off_t p = ftello(f_);
    if (p < 0) throw WriteError(name_);
    return offset(uint64_t(p));
  }
  // A position of the file as the format stores it.
  uint32_t offset(uint64_t p) const {
    if (p > 0xFFFFFFFFull)
      throw Error(format_message(
          "Error: %s would pass 4 GiB, beyond the offsets the file format can store. Use a "
          "higher compression ratio or split the image.",
          name_.c_str()));
    return uint32_t(p);
  }
  void bytes(const void* data, size_t n, const char* failure) {
    if (n && std::fwrite(data, 1, n, f_) != n) fail(failure);
  }
  void u32(uint32_t v, const char* failure = "Error encountered in write_int.") {
    const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    bytes(b, 4, failure);
  }
  void marker(uint8_t code) {
    const uint8_t m[2] = {0xFF, code};
    bytes(m, 2, "Error encountered in write_marker.");
  }
  void zeros(uint64_t count) {
    static const uint8_t kZero[4096] = {};
    while (count) {
      const size_t n = size_t(std::min<uint64_t>(count, sizeof kZero));
      bytes(kZero, n, "Error encountered in write_int.");
      count -= n;
    }
  }
  // Writes v at `at` and returns to the end.
  void patch(uint32_t at, uint32_t v, const char* failure) {
    if (fseeko(f_, off_t(at), SEEK_SET) != 0) fail(failure);
    u32(v, failure);
    if (fseeko(f_, 0, SEEK_END) != 0) fail(failure);
  }
  FILE* stream() const { return f_; }

 private:
  // A seek writes out the buffer too, so a full disk can show at either.
  [[noreturn]] void fail(const char* failure) const {
    if (full_disk_reason(errno)) throw WriteError(name_);
    throw Error(failure);
  }

  FILE* f_;
  std::string name_;
};

void check_interrupt(const InterruptQuery& interrupted) {
  if (interrupted && interrupted()) throw Error("Program interrupt encountered.");
}

int64_t stream_size(FILE* f) {
  struct stat st;
  return fstat(fileno(f), &st) == 0 ? int64_t(st.st_size) : 0;
}

struct SectionContext {
  VxlOutput& out;
  int bands;
  InterruptQuery interrupted;
  std::vector<uint8_t> part;  // reused for every part
};

// The section of one subband: marker, dither offsets, the table of its blocks (per band the
// position of its part, then the block's rectangle) and the parts. Their sizes are known, so
// the table is written whole and the parts are copied behind it without seeking back; each
// part's record offsets are moved by its position in the file.
void write_section(SectionContext& c, SubbandMapEntry& entry) {
  c.out.marker(0xAC);
  const uint8_t dither[2] = {entry.offsets.ox, entry.offsets.oy};
  c.out.bytes(dither, 2, "Write error in subroutine fwrite2.");
  c.out.u32(uint32_t(entry.records.size()));
  const size_t columns = size_t(c.bands) + 4;
  std::vector<uint32_t> table(entry.records.size() * columns, 0);
  uint64_t at = c.out.position() + 4 * uint64_t(table.size());
  for (size_t j = 0; j < entry.records.size(); ++j) {
    const SubbandRecordEntry& rec = entry.records[j];
    uint32_t* row = table.data() + j * columns;
    for (int k = 0; k < c.bands; ++k) {
      if (rec.offsets[size_t(k)] < 0) continue;
      row[k] = c.out.offset(at);
      const uint32_t coords[4] = {uint32_t(rec.x0), uint32_t(rec.y0), uint32_t(rec.x1),
                                  uint32_t(rec.y1)};
      std::copy(coords, coords + 4, row + c.bands);
      at += uint64_t(rec.sizes[size_t(k)]);
    }
  }
  for (uint32_t v : table) c.out.u32(v, "Error encountered in record_hblk_offset.");
  FILE* in = entry.file.stream();
  for (const SubbandRecordEntry& rec : entry.records) {
    for (int k = 0; k < c.bands; ++k) {
      if (rec.offsets[size_t(k)] < 0) continue;
      check_interrupt(c.interrupted);
      if (ftello(in) != rec.offsets[size_t(k)])
        throw Error("File offset error in subroutine decode_indices.\n");
      c.part.resize(size_t(rec.sizes[size_t(k)]));
      if (std::fread(c.part.data(), 1, c.part.size(), in) != c.part.size())
        throw Error("Error encountered in expand_data.");
      const uint32_t base = c.out.position();
      c.out.offset(uint64_t(base) + c.part.size());
      relocate_band_part(c.part, rec.x1 - rec.x0 + 1, rec.y1 - rec.y0 + 1, base);
      c.out.bytes(c.part.data(), c.part.size(), "Error encountered in encode_block2.");
    }
  }
}

// Drops a consumed temporary file at once, so disk use shrinks as the file grows.
void consume(SubbandMapEntry& entry) {
  const FileSpecification name = entry.file.name();
  entry.file.close();
  name.remove_file();
  entry.file.release();
}

}  // namespace

void build_output_metadata(const Image& image, const CompressionParameters& p, MetadataList* out) {
  metadata_init(out);
  metadata_merge(out, &image.metadata);
  const int32_t version[3] = {1, 4, 1};
  metadata_add_slong(out, "IMAGE::COMPRESSION_VERSION", version, 3);
  metadata_add_float(out, "IMAGE::TARGET_COMPRESSION_RATIO", 8.0f / p.target_rate);
  metadata_add_long(out, "IMAGE::COMPRESSION_NLEV", p.nlev);
  metadata_add_float(out, "IMAGE::COMPRESSION_WEIGHT", p.weight);
  if (image.color_scheme == kSchemeCMYK)
    metadata_add_float(out, "IMAGE::COMPRESSION_KWEIGHT", p.fourth_band_weight);
  metadata_add_float(out, "IMAGE::COMPRESSION_GAMMA", p.gamma);
  metadata_add_long(out, "IMAGE::COMPRESSION_BLOCK_SIZE", p.block_size);
  const time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64];
  metadata_add_ascii(out, "IMAGE::CREATION_DATE", asctime_r(&local, text));
  if (!p.dither) {
    const uint8_t zero = 0;
    metadata_add_bytes(out, "IMAGE::NO_DITHER", &zero, 1);
  }
}

void write_vxl_file(Image& image, SubbandMap& map, const FileSpecification& output,
                    InterruptQuery interrupted,
                    ProgressFunction progress, float progress_start, float progress_end,
                    const CompressionParameters& parameters) {
  MetadataList metadata;
  build_output_metadata(image, parameters, &metadata);
  struct ListGuard {
    MetadataList* l;
    ~ListGuard() { metadata_destroy(l); }
  } guard{&metadata};

  const bool to_stdout = output.is_uninitialized();
  const FileSpecification dir = to_stdout ? FileSpecification() : Quorvale::directory_of(output);
  Quorvale::ScopedTempFile file(to_stdout ? nullptr : &dir);
  VxlOutput out(file.stream(), to_stdout ? std::string("standard output") : output.str());

  const int bands = image.coded_bands();
  const int subbands = int(map.size());
  out.bytes("vexl", 4, "Error encountered in write_SOI.");
  const uint8_t version[3] = {1, 0, 1};
  out.bytes(version, 3, "Error encountered in write_version.");
  out.u32(uint32_t(bands));
  out.u32(uint32_t(parameters.nlev));
  out.u32(uint32_t(image.image_width));
  out.u32(uint32_t(image.image_height));
  out.zeros(4 * uint64_t(subbands));
  out.marker(0xD0);
  const uint32_t metadata_at = out.position();
  out.u32(0);

  int64_t total = 0, processed = 0;
  for (SubbandMapEntry& e : map) total += stream_size(e.file.stream());
  SectionContext context{out, bands, interrupted, {}};
  for (int i = 0; i < subbands; ++i) {
    out.patch(23 + 4 * uint32_t(i), out.position(), "Seek error in subroutine record_offset.");
    write_section(context, map[size_t(i)]);
    processed += stream_size(map[size_t(i)].file.stream());
    consume(map[size_t(i)]);
    if (progress && total > 0)
      progress(progress_start + float(double(processed) / double(total)) * (progress_end - progress_start));
  }
  const uint32_t metadata_position = out.position();
  const uint16_t one = 1;
  metadata_add(&metadata, "IMAGE::EOM", TYPE_SHORT, 1, std::array<int, 1>{1}.data(), &one);
  if (metadata_write(&metadata, file.stream()) != 0) throw Error("Error writing metadata.");
  out.marker(0xA1);
  out.patch(metadata_at, metadata_position, "Error encountered in write_int.");
  out.position();  // the metadata and end marker must also lie within reach of the offsets
  if (to_stdout) {
    if (!file.close()) throw WriteError(output.str());
    platform::copy_file_into(file.name(), stdout, "standard output");
    return;  // the temporary copy goes with `file`
  }
  file.commit_to(output);
}
