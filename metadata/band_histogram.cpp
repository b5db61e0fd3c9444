#include "metadata/band_histogram.h"

#include <cmath>
#include <cstring>

#include "platform/error.h"

namespace {

constexpr int kValues = 256;
// Counts beyond this are not exact as doubles.
constexpr double kLargestCount = 9007199254740992.0;  // 2^53

BandHistogram band_counts(const double* v) {
  BandHistogram h{};
  for (int k = 0; k < kValues; ++k) {
    if (!(v[k] >= 0 && v[k] <= kLargestCount) || v[k] != std::trunc(v[k]))
      throw Error("the histogram record holds a count that is not a whole number");
    h[size_t(k)] = uint64_t(v[k]);
  }
  return h;
}

bool agrees(const BandHistogram& h, const BandStatistics& s, double pixels) {
  double total = 0;
  int lowest = -1, highest = -1;
  for (int k = 0; k < kValues; ++k) {
    if (h[size_t(k)] == 0) continue;
    total += double(h[size_t(k)]);
    if (lowest < 0) lowest = k;
    highest = k;
  }
  // The percentage was rounded once from the same count.
  return lowest == s.minimum && highest == s.maximum &&
         std::fabs(total - s.valid_percent * pixels / 100) <= 0.5 + 1e-9 * pixels;
}

}  // namespace

int add_histogram_record(MetadataList* list, const std::vector<BandHistogram>& bands) {
  std::vector<double> values;
  for (const BandHistogram& h : bands) values.insert(values.end(), h.begin(), h.end());
  return metadata_add_doubles(list, kHistogramKey, values.data(), int(values.size()));
}

std::optional<std::vector<BandHistogram>> read_histogram_record(
    const MetadataList& list, int bands,
    const std::optional<std::vector<BandStatistics>>& statistics, double pixels) {
  const MetadataRecord* r = metadata_record(&list, kHistogramKey);
  if (!r) return std::nullopt;
  if (r->type != TYPE_DOUBLE || bands < 1 || r->count != bands * kValues ||
      r->values.size() != size_t(r->count) * sizeof(double))
    throw Error("the histogram record does not hold 256 counts a band");
  if (!statistics) throw Error("the histogram record comes without the statistics record");
  std::vector<BandHistogram> out;
  for (int b = 0; b < bands; ++b) {
    double v[kValues];
    std::memcpy(v, r->values.data() + size_t(b) * sizeof v, sizeof v);
    out.push_back(band_counts(v));
    if (!agrees(out.back(), (*statistics)[size_t(b)], pixels))
      throw Error("the histogram record disagrees with the statistics record");
  }
  return out;
}
