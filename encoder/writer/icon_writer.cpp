#include "encoder/writer/icon_writer.h"

#include <cstdio>
#include <memory>

#include "codec/level_geometry.h"
#include "codec/sq_inv.h"
#include "encoder/writer/band_payload.h"
#include "image/rfi_writer.h"
#include "platform/error.h"

void output_icon(const Quorvale::FileSpecification& icon, SubbandMap& map, int width, int height,
                 int levels, int bands, bool dither) {
  const int w = reduced_size(width, levels), h = reduced_size(height, levels);
  SubbandMapEntry& low = map.at(0);
  std::unique_ptr<RFIWriter> rfi;
  try {
    rfi = std::make_unique<RFIWriter>(icon, w, h, bands);
  } catch (const Error&) {
    throw Error("File open error in output_icon.");
  }
  std::vector<float> values;
  for (const SubbandRecordEntry& rec : low.records) {
    const int rw = rec.x1 - rec.x0 + 1, rh = rec.y1 - rec.y0 + 1;
    for (int k = 0; k < bands; ++k) {
      if (rec.offsets[size_t(k)] < 0) continue;
      const BandPayload p =
          read_band_payload(low.file.stream(), rec.offsets[size_t(k)], rw, rh);
      values.resize(p.indices.size());
      sq_inv(p.indices.data(), p.indices.size(), p.step, values.data());
      if (k == 0 && dither) remove_dither(values.data(), rec.x0, rec.x1, rec.y0, rec.y1, p.step, &low.offsets);
      try {
        for (int y = 0; y < rh; ++y)
          rfi->write_run(k, rec.y0 + y, rec.x0, values.data() + size_t(y) * size_t(rw), rw);
      } catch (const Error&) {
        throw Error("Write error in output_icon.");
      }
    }
  }
  std::fseek(low.file.stream(), 0, SEEK_SET);
  try {
    rfi->close();
  } catch (const Error&) {
    throw Error("Write error in output_icon.");
  }
}
