#include "metadata/band_statistics.h"

#include <cmath>
#include <cstring>

#include "platform/error.h"

namespace {

constexpr int kValuesPerBand = 5;

bool plausible(const BandStatistics& s) {
  for (double v : {s.minimum, s.maximum, s.mean, s.stddev, s.valid_percent})
    if (!std::isfinite(v)) return false;
  return s.minimum <= s.maximum && s.mean >= s.minimum && s.mean <= s.maximum &&
         s.stddev >= 0 && s.valid_percent > 0 && s.valid_percent <= 100;
}

}  // namespace

int add_statistics_record(MetadataList* list, const std::vector<BandStatistics>& bands) {
  std::vector<double> values;
  for (const BandStatistics& s : bands)
    values.insert(values.end(), {s.minimum, s.maximum, s.mean, s.stddev, s.valid_percent});
  return metadata_add_doubles(list, kStatisticsKey, values.data(), int(values.size()));
}

std::optional<std::vector<BandStatistics>> read_statistics_record(const MetadataList& list,
                                                                  int bands) {
  const MetadataRecord* r = metadata_record(&list, kStatisticsKey);
  if (!r) return std::nullopt;
  if (r->type != TYPE_DOUBLE || bands < 1 || r->count != bands * kValuesPerBand ||
      r->values.size() != size_t(r->count) * sizeof(double))
    throw Error("the statistics record does not hold five numbers a band");
  std::vector<BandStatistics> out(static_cast<size_t>(bands));
  for (int b = 0; b < bands; ++b) {
    double v[kValuesPerBand];
    std::memcpy(v, r->values.data() + size_t(b) * sizeof v, sizeof v);
    out[size_t(b)] = BandStatistics{v[0], v[1], v[2], v[3], v[4]};
    if (!plausible(out[size_t(b)])) throw Error("the statistics record holds impossible values");
  }
  return out;
}
