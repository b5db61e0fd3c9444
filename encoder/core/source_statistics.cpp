#include "encoder/core/source_statistics.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

namespace {

using Moments = SourceStatistics::Moments;

// One band of a block: `w` x `h` samples from `p`, rows `stride` samples apart.
template <typename T>
struct PlaneView {
  const T* p;
  size_t stride;
  int w, h;
  const T* row(int y) const { return p + size_t(y) * stride; }
};

template <typename T>
Moments integer_moments(const PlaneView<T>& v, std::optional<double> nodata) {
  // A nodata value that no sample can hold leaves every sample counted.
  const bool skip = nodata && *nodata == std::trunc(*nodata) &&
                    *nodata >= double(std::numeric_limits<T>::min()) &&
                    *nodata <= double(std::numeric_limits<T>::max());
  const T excluded = skip ? T(*nodata) : T(0);
  Moments m;
  T lo = std::numeric_limits<T>::max(), hi = std::numeric_limits<T>::min();
  for (int y = 0; y < v.h; ++y) {
    // A row's sums fit 64 bits: 2^31 samples of at most 2^32 squared.
    int64_t sum = 0;
    uint64_t squares = 0, count = 0;
    const T* row = v.row(y);
    for (int x = 0; x < v.w; ++x) {
      const T s = row[x];
      if (skip && s == excluded) continue;
      ++count;
      sum += s;
      squares += uint64_t(int64_t(s) * int64_t(s));
      lo = std::min(lo, s);
      hi = std::max(hi, s);
    }
    m.count += count;
    m.sum += sum;
    m.squares += squares;
  }
  m.minimum = double(lo);
  m.maximum = double(hi);
  return m;
}

// 8-bit samples through histograms: one increment a sample (four tables, so that runs of one
// value do not wait on each other's increments), the sums then from 256 counts, which are added
// to `histogram`.
Moments byte_moments(const PlaneView<uint8_t>& v, std::optional<double> nodata,
                     BandHistogram& histogram) {
  uint64_t bins[4][256] = {};
  for (int y = 0; y < v.h; ++y) {
    const uint8_t* row = v.row(y);
    int x = 0;
    for (; x + 4 <= v.w; x += 4) {
      ++bins[0][row[x]];
      ++bins[1][row[x + 1]];
      ++bins[2][row[x + 2]];
      ++bins[3][row[x + 3]];
    }
    for (; x < v.w; ++x) ++bins[0][row[x]];
  }
  Moments m;
  for (int k = 0; k < 256; ++k) {
    const uint64_t n = bins[0][k] + bins[1][k] + bins[2][k] + bins[3][k];
    if (n == 0 || (nodata && *nodata == k)) continue;
    histogram[size_t(k)] += n;
    if (m.count == 0) m.minimum = k;
    m.maximum = k;
    m.count += n;
    m.sum += n * uint64_t(k);
    m.squares += n * uint64_t(k * k);
  }
  return m;
}

// Two passes over the block, the mean first: the deviations then lose nothing to cancellation.
Moments float_moments(const PlaneView<float>& v, std::optional<double> nodata) {
  auto counted = [&](float s) { return std::isfinite(s) && !(nodata && double(s) == *nodata); };
  Moments m;
  double sum = 0;
  float lo = std::numeric_limits<float>::infinity(), hi = -lo;
  for (int y = 0; y < v.h; ++y)
    for (int x = 0; x < v.w; ++x) {
      const float s = v.row(y)[x];
      if (!counted(s)) continue;
      ++m.count;
      sum += s;
      lo = std::min(lo, s);
      hi = std::max(hi, s);
    }
  if (m.count == 0) return m;
  m.minimum = lo;
  m.maximum = hi;
  m.mean = sum / double(m.count);
  for (int y = 0; y < v.h; ++y)
    for (int x = 0; x < v.w; ++x) {
      const float s = v.row(y)[x];
      if (counted(s)) m.deviations += (s - m.mean) * (s - m.mean);
    }
  return m;
}

template <typename T>
Moments band_moments(const PixelData& pixels, int band, const BlockRect& extent,
                     const BlockRect& block, std::optional<double> nodata,
                     BandHistogram* histogram) {
  const size_t width = size_t(pixels.width());
  const T* plane = static_cast<const T*>(pixels.data()) + size_t(band) * width * size_t(pixels.height());
  const PlaneView<T> view{plane + size_t(block.y0 - extent.y0) * width + size_t(block.x0 - extent.x0),
                          width, block.x1 - block.x0 + 1, block.y1 - block.y0 + 1};
  if constexpr (std::is_same_v<T, float>) return float_moments(view, nodata);
  else if constexpr (std::is_same_v<T, uint8_t>) return byte_moments(view, nodata, *histogram);
  else return integer_moments(view, nodata);
}

// The population standard deviation of integer samples from their exact sums: the numerator
// n * sum(x^2) - sum(x)^2 is exact while it fits 128 bits (up to 2^48 samples of 16 bits).
double integer_deviation(const Moments& m, double mean) {
  using U = unsigned __int128;
  const U n = m.count, squares = m.squares;
  const U magnitude = m.sum < 0 ? U(-m.sum) : U(m.sum);
  if (squares == 0) return 0.0;
  if (n <= ~U(0) / squares) {
    const U numerator = n * squares - magnitude * magnitude;
    return std::sqrt(double(numerator)) / double(m.count);
  }
  return std::sqrt(std::max(0.0, double(m.squares) / double(m.count) - mean * mean));
}

}  // namespace

void SourceStatistics::Moments::merge(const Moments& o) {
  if (o.count == 0) return;
  if (count == 0) {
    *this = o;
    return;
  }
  minimum = std::min(minimum, o.minimum);
  maximum = std::max(maximum, o.maximum);
  sum += o.sum;
  squares += o.squares;
  const double n = double(count) + double(o.count);
  const double delta = o.mean - mean;
  mean += delta * (double(o.count) / n);
  deviations += o.deviations + delta * delta * (double(count) * double(o.count) / n);
  count += o.count;
}

SourceStatistics::SourceStatistics(const BlockGrid& grid, int bands, std::optional<double> nodata)
    : grid_(grid), bands_(bands), nodata_(nodata), totals_(size_t(bands)) {}

void SourceStatistics::add(const PixelData& pixels, const BlockRect& extent, const BlockRect& block) {
  std::vector<Moments> moments(static_cast<size_t>(bands_));
  const bool bytes = pixels.data_type() == PixelData::kUInt8;
  std::vector<BandHistogram> counts(bytes ? size_t(bands_) : 0);
  for (int b = 0; b < bands_; ++b) {
    Moments& m = moments[size_t(b)];
    BandHistogram* h = bytes ? &counts[size_t(b)] : nullptr;
    auto moments_of = [&](auto sample) {
      return band_moments<decltype(sample)>(pixels, b, extent, block, nodata_, h);
    };
    switch (pixels.data_type()) {
      case PixelData::kUInt8: m = moments_of(uint8_t{}); break;
      case PixelData::kUInt16: m = moments_of(uint16_t{}); break;
      case PixelData::kInt16: m = moments_of(int16_t{}); break;
      default: m = moments_of(float{}); break;
    }
  }
  const int64_t index = BlockGrid::morton_index(block.x0 / grid_.block_width(),
                                                block.y0 / grid_.block_height());
  std::lock_guard<std::mutex> hold(lock_);
  integer_ = pixels.data_type() != PixelData::kFloat;
  if (bytes) {
    histograms_.resize(size_t(bands_));
    for (int b = 0; b < bands_; ++b)
      for (size_t k = 0; k < 256; ++k) histograms_[size_t(b)][k] += counts[size_t(b)][k];
  }
  waiting_.emplace(index, std::move(moments));
  fold_ready();
}

void SourceStatistics::fold_ready() {
  while (!waiting_.empty() && waiting_.begin()->first == next_) {
    for (int b = 0; b < bands_; ++b) totals_[size_t(b)].merge(waiting_.begin()->second[size_t(b)]);
    waiting_.erase(waiting_.begin());
    int column = 0, row = 0;
    do {
      BlockGrid::morton_cell(++next_, column, row);
    } while (next_ < grid_.node_count() && !grid_.in_image(column, row));
  }
}

std::vector<BandStatistics> SourceStatistics::result() const {
  std::vector<BandStatistics> out;
  const double pixels = double(grid_.width()) * double(grid_.height());
  for (const Moments& m : totals_) {
    if (m.count == 0) return {};
    BandStatistics s;
    s.minimum = m.minimum;
    s.maximum = m.maximum;
    s.mean = integer_ ? double(m.sum) / double(m.count) : m.mean;
    s.stddev = integer_ ? integer_deviation(m, s.mean) : std::sqrt(m.deviations / double(m.count));
    // Rounding must not carry the mean of nearly equal samples past them.
    s.mean = std::clamp(s.mean, s.minimum, s.maximum);
    s.valid_percent = 100.0 * double(m.count) / pixels;
    out.push_back(s);
  }
  return out;
}
