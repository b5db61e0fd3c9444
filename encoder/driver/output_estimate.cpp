#include "encoder/driver/output_estimate.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr double kLimit = 4294967296.0;
// Headers, Huffman tables, the record index and the metadata: generous for any image.
constexpr double kFixedBytes = 1 << 20;
// Grey real images come out up to a tenth above the target rate (at -c 0.5 to 20); colour ones
// below it, as the chroma bands cost less. The estimate takes the grey case.
constexpr double kRateMargin = 1.1;
// Beyond this share of the limit the file cannot fit; above kNearShare it may not.
constexpr double kBeyondShare = 1.0;
constexpr double kNearShare = 0.8;
// The share of the limit a suggested ratio aims at.
constexpr double kAimShare = 0.75;

}  // namespace

double estimated_bytes_per_sample(double bits_per_sample) {
  return kRateMargin * bits_per_sample / 8.0;
}

double estimated_output_bytes(int64_t samples, double bits_per_sample) {
  return double(samples) * estimated_bytes_per_sample(bits_per_sample) + kFixedBytes;
}

OutputSizeVerdict judge_output_size(double estimated_bytes) {
  if (estimated_bytes > kBeyondShare * kLimit) return OutputSizeVerdict::kBeyond;
  if (estimated_bytes > kNearShare * kLimit) return OutputSizeVerdict::kNear;
  return OutputSizeVerdict::kFits;
}

double suggested_ratio(double estimated_bytes, double ratio) {
  const double needed = ratio * estimated_bytes / (kAimShare * kLimit);
  return needed < 5 ? std::ceil(needed) : 5 * std::ceil(needed / 5);
}

std::string format_gib(double bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f GiB", bytes / 1073741824.0);
  return text;
}
