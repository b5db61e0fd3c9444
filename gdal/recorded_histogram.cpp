#include "recorded_histogram.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Farther than this (in buckets) from an inner boundary, no rounding moves a value across it.
constexpr double kMargin = 1e-9;

}  // namespace

bool recorded_histogram(const vexal::Histogram& counts, double min, double max, int buckets,
                        bool include_out_of_range, GUIntBig* out) {
  if (buckets < 1 || !std::isfinite(min) || !std::isfinite(max) || !(max > min)) return false;
  const double scale = buckets / (max - min);
  if (!std::isfinite(scale)) return false;
  std::array<int, 256> bucket{};  // -1: not counted
  for (int k = 0; k < 256; ++k) {
    const double position = (k - min) * scale;  // GDAL's own expression for a sample's bucket
    const double nearest = std::round(position);
    if (nearest >= 1 && nearest <= buckets - 1 &&
        std::fabs(position - nearest) <= kMargin * std::max(1.0, nearest))
      return false;
    const double index = std::floor(position);
    if (index >= 0 && index < buckets) bucket[size_t(k)] = int(index);
    else bucket[size_t(k)] = include_out_of_range ? (index < 0 ? 0 : buckets - 1) : -1;
  }
  std::fill(out, out + buckets, GUIntBig(0));
  for (int k = 0; k < 256; ++k)
    if (bucket[size_t(k)] >= 0) out[bucket[size_t(k)]] += counts[size_t(k)];
  return true;
}
