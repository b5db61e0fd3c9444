#include "encoder/core/coefficient_spool.h"

#include <cstdint>
#include <cstdio>

#include "platform/error.h"

namespace {

constexpr const char* kReadFailure = "Error reading a temporary file.";

}  // namespace

CoefficientSpool::CoefficientSpool(const Quorvale::FileSpecification* temp_dir, int bands)
    : file_(temp_dir), bands_(bands) {}

void CoefficientSpool::write_record(SubbandRecordData& record) {
  if (record.width() <= 0 || record.height() <= 0) return;
  const int32_t header[5] = {record.subband, record.x0, record.x1, record.y0, record.y1};
  FILE* f = file_.stream();
  if (std::fwrite(header, sizeof header, 1, f) != 1) throw TempWriteError(file_.name().str());
  for (const platform::FloatBuffer& plane : record.bands)
    if (std::fwrite(plane.data(), sizeof(float), plane.size(), f) != plane.size())
      throw TempWriteError(file_.name().str());
}

void CoefficientSpool::replay(RecordSink& sink, const std::function<void()>& poll) {
  FILE* f = file_.stream();
  if (std::fflush(f) != 0) throw TempWriteError(file_.name().str());
  if (std::fseek(f, 0, SEEK_SET) != 0) throw Error(kReadFailure);
  SubbandRecordData record;
  int32_t header[5];
  while (std::fread(header, sizeof header, 1, f) == 1) {
    if (poll) poll();
    record.subband = header[0];
    record.x0 = header[1], record.x1 = header[2], record.y0 = header[3], record.y1 = header[4];
    if (record.width() <= 0 || record.height() <= 0) throw Error(kReadFailure);
    const size_t area = size_t(record.width()) * size_t(record.height());
    record.bands.resize(size_t(bands_));
    for (platform::FloatBuffer& plane : record.bands) {
      plane.resize(area);
      if (std::fread(plane.data(), sizeof(float), area, f) != area) throw Error(kReadFailure);
    }
    sink.write_record(record);
  }
  if (std::ferror(f)) throw Error(kReadFailure);
}
