#include "decoder/vxl_check.h"

#include <exception>

#include "decoder/coefficient_reader.h"

VxlCheckReport check_vxl_structure(const VxlFile& file) {
  VxlCheckReport report;
  std::vector<int16_t> indices;
  for (size_t s = 0; s < file.subbands().size(); ++s) {
    // Offsets address a 128 x 128 pattern: the format allows 0..127 only.
    const VxlSubband& subband = file.subbands()[s];
    if (subband.dither_x > 127 || subband.dither_y > 127)
      report.problems.push_back("subband " + std::to_string(s) + ": dither offsets " +
                                std::to_string(subband.dither_x) + ", " +
                                std::to_string(subband.dither_y) + " above 127");
    for (const VxlBlock& block : file.subbands()[s].blocks) {
      for (uint32_t offset : block.band_offsets) {
        if (offset == 0) continue;
        try {
          const BandPart& part = *file.part(block, offset);
          ++report.block_parts;
          for (size_t r = 0; r < part.record_offsets.size(); ++r) {
            indices.assign(size_t(part.record_rect(block, r).width()) *
                               size_t(part.record_rect(block, r).height()),
                           0);
            decode_record(file, part, r, indices);
            ++report.records;
          }
        } catch (const std::exception& e) {
          // The report names the file once; the message begins with it too.
          std::string what = e.what();
          if (what.rfind(file.name() + ": ", 0) == 0) what.erase(0, file.name().size() + 2);
          report.problems.push_back("subband " + std::to_string(s) + ": " + what);
        }
      }
    }
  }
  return report;
}
