#include "decoder/vxl_info.h"

#include <cstring>

#include "decoder/coefficient_reader.h"
#include "decoder/decoded_image.h"
#include "decoder/subband_geometry.h"

namespace {

const char* orientation_name(Orientation o) {
  switch (o) {
    case Orientation::kLowLow: return "LL";
    case Orientation::kHighLow: return "HL";
    case Orientation::kLowHigh: return "LH";
    case Orientation::kHighHigh: return "HH";
  }
  return "?";
}

void print_value(const MetadataRecord& r, int k, FILE* out) {
  const uint8_t* v = r.values.data();
  switch (r.type) {
    case TYPE_BYTE: std::fprintf(out, "%u", v[k]); break;
    case TYPE_SBYTE: std::fprintf(out, "%d", int8_t(v[k])); break;
    case TYPE_SHORT: { uint16_t x; std::memcpy(&x, v + 2 * k, 2); std::fprintf(out, "%u", x); break; }
    case TYPE_SSHORT: { int16_t x; std::memcpy(&x, v + 2 * k, 2); std::fprintf(out, "%d", x); break; }
    case TYPE_LONG:
    case TYPE_SLONG: { int32_t x; std::memcpy(&x, v + 4 * k, 4); std::fprintf(out, "%d", x); break; }
    case TYPE_FLOAT: { float x; std::memcpy(&x, v + 4 * k, 4); std::fprintf(out, "%g", x); break; }
    case TYPE_DOUBLE: { double x; std::memcpy(&x, v + 8 * k, 8); std::fprintf(out, "%.15g", x); break; }
    case TYPE_ASCII: {
      std::string s = r.strings[size_t(k)];
      while (!s.empty() && s.back() == '\n') s.pop_back();
      std::fprintf(out, "\"%s\"", s.c_str());
      break;
    }
    default: std::fprintf(out, "?");
  }
}

}  // namespace

void print_vxl_info(const VxlFile& f, FILE* out) {
  std::fprintf(out, "File:            %s\n", f.name().c_str());
  std::fprintf(out, "Size:            %d x %d pixels, %d band%s\n", f.width(), f.height(),
               f.bands(), f.bands() == 1 ? "" : "s");
  std::fprintf(out, "Levels:          %d (level k is 1/2^k of the full size)\n", f.levels());
  const int32_t block = metadata_long(f.metadata(), "IMAGE::COMPRESSION_BLOCK_SIZE", 0);
  if (block > 0) std::fprintf(out, "Block size:      %d\n", block);
  const MetadataRecord* in_size = metadata_record(&f.metadata(), "IMAGE::INPUT_FILE_SIZE");
  if (in_size && in_size->type == TYPE_DOUBLE) {
    double s;
    std::memcpy(&s, in_size->values.data(), 8);
    std::fprintf(out, "File size:       %llu bytes (compression ratio %.2f)\n",
                 static_cast<unsigned long long>(f.size()), s / double(f.size()));
  }
  std::fprintf(out, "\nSubbands:\n  %3s %5s %4s %11s %6s %7s %12s %12s\n", "#", "level", "kind",
               "size", "blocks", "records", "min step", "max step");
  for (int i = 0; i < subband_count(f.levels()); ++i) {
    const SubbandRect r = subband_rect(i, f.levels(), f.width(), f.height());
    const SubbandSummary s = summarize_subband(f, i);
    char size[32];
    std::snprintf(size, sizeof size, "%dx%d", r.width, r.height);
    std::fprintf(out, "  %3d %5d %4s %11s %6d %7d %12g %12g\n", i, r.level,
                 orientation_name(r.orientation), size, s.blocks, s.records, s.min_step,
                 s.max_step);
  }
  std::fprintf(out, "\nMetadata:\n");
  for (const MetadataRecord& r : f.metadata().slots) {
    if (r.empty()) continue;
    std::fprintf(out, "  %s = ", r.key.c_str());
    for (int k = 0; k < r.count; ++k) {
      if (k) std::fprintf(out, ", ");
      if (k == 16 && r.count > 20) {
        std::fprintf(out, "... (%d values)", r.count);
        break;
      }
      print_value(r, k, out);
    }
    std::fprintf(out, "\n");
  }
}
