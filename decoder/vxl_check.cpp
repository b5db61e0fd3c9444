#include "decoder/vxl_check.h"

#include <exception>

#include "decoder/coefficient_reader.h"

VxlCheckReport check_vxl_structure(const VxlFile& file) {
  VxlCheckReport report;
  std::vector<int16_t> indices;
  for (size_t s = 0; s < file.subbands().size(); ++s) {
    for (const VxlBlock& block : file.subbands()[s].blocks) {
      for (uint32_t offset : block.band_offsets) {
        if (offset == 0) continue;
        try {
          const BandPart part = read_band_part(file, block, offset);
          ++report.block_parts;
          for (size_t r = 0; r < part.record_offsets.size(); ++r) {
            indices.assign(size_t(part.record_rect(block, r).width()) *
                               size_t(part.record_rect(block, r).height()),
                           0);
            decode_record(file, part, r, indices);
            ++report.records;
          }
        } catch (const std::exception& e) {
          report.problems.push_back("subband " + std::to_string(s) + ": " + e.what());
        }
      }
    }
  }
  return report;
}
