#include "decoder/vxl_info.h"

#include <cstring>

#include "decoder/coefficient_reader.h"
#include "decoder/decoded_image.h"
#include "decoder/metadata_text.h"
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
      if (r.type == TYPE_ASCII)
        std::fprintf(out, "\"%s\"", metadata_value_text(r, k).c_str());
      else
        std::fprintf(out, "%s", metadata_value_text(r, k).c_str());
    }
    std::fprintf(out, "\n");
  }
}
