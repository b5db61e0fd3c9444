#include "encoder/core/encoder.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <optional>

#include "codec/level_geometry.h"
#include "encoder/core/block_grid.h"
#include "encoder/core/block_tiler.h"
#include "encoder/core/record_coder.h"
#include "encoder/core/sample_range.h"
#include "encoder/core/source_statistics.h"
#include "encoder/core/step_allocation.h"
#include "encoder/writer/icon_writer.h"
#include "encoder/writer/vxl_writer.h"
#include "image/nodata_fill.h"
#include "image/rfi_image.h"
#include "metadata/nodata_mask.h"
#include "platform/error.h"
#include "platform/temp_file.h"
#include "platform/thread_pool.h"

using Quorvale::FileSpecification;

namespace {

constexpr int kMaxLevels = 9;
constexpr int kOneStageLevels = 5;
constexpr float kDecomposeEnd = 0.94f;
constexpr float kWriteEnd = 0.99f;

// Largest nodata mask record kept; a mask more intricate than that is left out (and said so).
constexpr size_t kMaxMaskBytes = 16u << 20;
// Pixels read around a block for the nodata fill, so that the fill of each block continues
// the valid pixels of its neighbours too and block edges inside nodata areas stay smooth.
constexpr int kFillMargin = 64;

// Nodata areas of the blocks: filled before the transform (`fill`), and their pixels recorded
// (`mask`, when the image has a nodata value).
struct NodataHandling {
  bool fill = false;
  double value = 0.0;
  std::optional<NodataMask> mask;
};

// The block's planes as floats, nodata areas filled, colour-transformed when the samples were
// integers; the source samples counted into `statistics`, when given. Readers are not made for
// concurrent use: one block is read at a time, and converted after; the mask is also shared.
void extract_block(Image& image, const BlockRect& r, int bands, platform::FloatBuffer& planes,
                   std::mutex& reading, NodataHandling& nodata, const SampleLimit& limit,
                   SourceStatistics* statistics) {
  const int m = nodata.mask ? kFillMargin : 0;
  const BlockRect e{std::max(0, r.x0 - m), std::min(image.image_width - 1, r.x1 + m),
                    std::max(0, r.y0 - m), std::min(image.image_height - 1, r.y1 + m)};
  int section[2][2] = {{e.x0, e.x1}, {e.y0, e.y1}};
  std::unique_ptr<PixelData> pixels;
  {
    std::lock_guard<std::mutex> lock(reading);
    pixels = image.extract(section);
  }
  if (statistics) statistics->add(*pixels, e, r);
  // Integer samples are colour-transformed (in the same pass as their conversion); float
  // samples are taken as they are. Nodata areas are filled first, in float.
  const bool integer = pixels->data_type() != PixelData::kFloat;
  const int w = r.x1 - r.x0 + 1, h = r.y1 - r.y0 + 1;
  const size_t n = size_t(w) * size_t(h) * size_t(bands);
  const bool plain = pixels->data_type() == PixelData::kUInt8 ||
                     pixels->data_type() == PixelData::kUInt16;
  if (!nodata.fill && plain && pixels->band_count() == bands && pixels->width() == w &&
      pixels->height() == h) {
    // The common case: converted and transformed straight into the block's planes.
    planes.resize(n);
    pixels->yiq_into(planes.data());
    return;
  }
  if (integer && !nodata.fill) {
    pixels->yiq();
    pixels->convert2float();
  }
  const int ew = e.x1 - e.x0 + 1, eh = e.y1 - e.y0 + 1;
  if (nodata.fill) {
    pixels->convert2float();
    const std::vector<uint8_t> marked =
        fill_nodata(pixels->float_data(), ew, eh, bands, nodata.value);
    if (nodata.mask) {
      std::lock_guard<std::mutex> lock(reading);
      for (int y = r.y0; y <= r.y1; ++y) {
        const uint8_t* row = marked.data() + size_t(y - e.y0) * size_t(ew);
        for (int x = r.x0; x <= r.x1; ++x) {
          if (!row[x - e.x0]) continue;
          int end = x;
          while (end < r.x1 && row[end + 1 - e.x0]) ++end;
          nodata.mask->add_run(y, x, end);
          x = end;
        }
      }
    }
  }
  if (integer && nodata.fill) pixels->yiq();
  if (!integer) limit.check(pixels->float_data(), size_t(ew) * size_t(eh) * size_t(bands));
  if (m == 0) {
    planes.assign(pixels->float_data(), pixels->float_data() + n);
    return;
  }
  planes.resize(size_t(w) * size_t(h) * size_t(bands));
  const float* in = pixels->float_data();
  for (int b = 0; b < bands; ++b)
    for (int y = 0; y < h; ++y) {
      const float* from = in + (size_t(b) * size_t(eh) + size_t(y + r.y0 - e.y0)) * size_t(ew) +
                          size_t(r.x0 - e.x0);
      std::copy(from, from + w, planes.begin() + (size_t(b) * size_t(h) + size_t(y)) * size_t(w));
    }
}

// Records where the nodata pixels were, so that the decoder puts the value back there.
void record_mask(Image& image, const NodataMask& mask) {
  metadata_delete(&image.metadata, "IMAGE::NODATA_MASK");
  if (mask.empty()) return;
  const std::vector<uint8_t> bytes = mask.encode();
  if (bytes.size() > kMaxMaskBytes) {
    std::fprintf(stderr, "Note: the nodata areas are too intricate to record; decoded pixels "
                         "there hold the filled values.\n");
    return;
  }
  if (metadata_add_bytes(&image.metadata, "IMAGE::NODATA_MASK", bytes.data(), int(bytes.size())) < 0)
    throw Error("Error initializing metadata.");
}

// Records the source's statistics once they are complete, with the histograms of 8-bit bands.
void record_statistics(Image& image, const SourceStatistics& statistics) {
  const std::vector<BandStatistics> bands = statistics.result();
  if (bands.empty()) {
    std::fprintf(stderr, "Note: a band has no valid pixel; no statistics are recorded.\n");
    return;
  }
  if (add_statistics_record(&image.metadata, bands) < 0 ||
      (!statistics.histograms().empty() &&
       add_histogram_record(&image.metadata, statistics.histograms()) < 0))
    throw Error("Error initializing metadata.");
}

// A trial's world and header files would be left in the temporary directory; the final output
// gets its own.
void remove_side_files(const FileSpecification& file) {
  for (const char* ext : {"vxw", "meta"}) {
    FileSpecification side(file);
    side.set_extension(ext);
    std::remove(side.path());
  }
}

}  // namespace

void write_side_files(Image& image, const FileSpecification& output) {
  if (output.is_uninitialized()) return;
  image.write_world_file(output);
  FileSpecification header(output);
  header.set_extension("meta");
  image.write_header_file(header);
}

Encoder::Encoder(Image* image, int nlev, int block_size, float target_rate,
                 const FileSpecification* temp_dir, ProgressFunction progress,
                 InterruptQuery interrupted, float weight, float gamma, bool dither,
                 float fourth_band_weight)
    : image_(image),
      nlev_(nlev),
      block_size_(block_size),
      target_rate_(target_rate),
      temp_dir_(temp_dir ? std::make_shared<FileSpecification>(*temp_dir) : nullptr),
      progress_(progress),
      interrupted_(interrupted),
      weight_(weight),
      gamma_(gamma),
      dither_(dither),
      fourth_band_weight_(fourth_band_weight) {
  if (nlev > kMaxLevels) throw Error("Error: specified value for nlev must be <= 9.");
  if (nlev < 1) throw Error("Error: specified value for nlev must be >= 1.");
  if (block_size < 1) throw Error("Error: specified block size must be positive.");
  if (image->coded_bands() > kMaxBands)
    throw Error(format_message("Error: cannot code images of more than %d bands.", kMaxBands));
  if (!(target_rate > 0.0f) || !std::isfinite(target_rate))
    throw Error("Error: the target compression ratio must be a positive number.");
  if (image->data_type == kImageFloat) {
    sample_limit_.magnitude = largest_codable_sample(nlev);
    sample_limit_.nlev = nlev;
  }
}

void Encoder::set_record_statistics(bool on) {
  record_statistics_ = on;
  // A record the source brought along would stand for pixels other than these.
  if (on) {
    metadata_delete(&image_->metadata, kStatisticsKey);
    metadata_delete(&image_->metadata, kHistogramKey);
  }
}

Encoder Encoder::with_target(Image* image, int nlev, float target_rate) const {
  Encoder e(image, nlev, block_size_, target_rate, temp_dir(), progress_, interrupted_, weight_,
            gamma_, dither_, fourth_band_weight_);
  e.set_threads(threads_);
  // A stage of a deeper encoding keeps the whole encoding's limit; the reduced image of the
  // second stage stays within it when the source does.
  e.sample_limit_ = image == image_ ? sample_limit_ : SampleLimit{};
  // The statistics are those of the source, not of a reduced image.
  e.record_statistics_ = image == image_ && record_statistics_;
  return e;
}

void Encoder::check_interrupt() const {
  if (interrupted_ && interrupted_()) throw Error("Program interrupt encountered.");
}

std::vector<CoefficientStatistics> Encoder::decompose_to(RecordSink& sink, float progress_start,
                                                        float progress_end,
                                                        platform::ThreadPool& pool) {
  const BlockGrid grid(image_->image_width, image_->image_height, block_size_, nlev_,
                       image_->full_width_blocks());
  const int bands = image_->coded_bands();
  BlockTiler tiler(grid, nlev_, bands);
  Image& image = *image_;
  std::mutex reading;
  // Float samples that are not numbers are always filled: the transform cannot take them.
  NodataHandling nodata;
  nodata.fill = image.nodata || image.data_type == kImageFloat;
  nodata.value = image.nodata.value_or(std::nan(""));
  if (image.nodata) nodata.mask.emplace(image.image_width, image.image_height);
  // Taken in the first pass only: later passes of a rate control read the same pixels.
  std::optional<SourceStatistics> statistics;
  if (record_statistics_ && metadata_find(&image.metadata, kStatisticsKey) < 0)
    statistics.emplace(grid, bands, image.nodata);
  SourceStatistics* counted = statistics ? &*statistics : nullptr;
  const BlockSource source = [this, &image, &reading, &nodata, bands, counted](
                                 const BlockRect& r, platform::FloatBuffer& planes) {
    extract_block(image, r, bands, planes, reading, nodata, sample_limit_, counted);
  };
  const StepCheck check = [this] { check_interrupt(); };
  std::function<void(float)> progress;
  if (progress_) progress = progress_;
  decompose_blocks(grid, bands, source, sink, tiler, check, progress, progress_start, progress_end,
                   &pool);
  if (nodata.mask) record_mask(image, *nodata.mask);
  if (statistics) record_statistics(image, *statistics);
  return tiler.total_statistics();
}

SubbandMap Encoder::decompose(float* rate_estimate, float progress_start, float progress_end,
                              int mode) {
  SubbandMap map = subband_map_init(nlev_, temp_dir());
  StepAllocation allocation;
  allocation.nlev = nlev_;
  allocation.bands = image_->coded_bands();
  allocation.rate = target_rate_;
  allocation.weight = weight_;
  allocation.gamma = gamma_;
  allocation.fourth_band_weight = fourth_band_weight_;
  allocation.equal_band_weights = image_->separate_bands;
  allocation.mode = mode;
  platform::ThreadPool pool(threads_);
  RecordCoder coder(map, allocation, dither_, &pool);
  const std::vector<CoefficientStatistics> totals =
      decompose_to(coder, progress_start, progress_end, pool);
  coder.finish();
  write_eof(map);
  if (rate_estimate) {
    allocation.mode = 0;
    const std::vector<float> bits = allocate_steps(allocation, variances_of(totals), 0, true);
    float sum = 0;
    for (float b : bits) sum += b;
    *rate_estimate = sum / float(bits.size());
  }
  return map;
}

CompressionParameters Encoder::parameters(bool dither) const {
  CompressionParameters p;
  p.dither = dither;
  p.nlev = nlev_;
  p.block_size = block_size_;
  p.target_rate = target_rate_;
  p.weight = weight_;
  p.fourth_band_weight = fourth_band_weight_;
  p.gamma = gamma_;
  return p;
}

void Encoder::write(SubbandMap& map, const FileSpecification& output) {
  write_vxl_file(*image_, map, output, interrupted_, progress_,
                 kDecomposeEnd, kWriteEnd, parameters(dither_));
}

void Encoder::check_geometry(Mode mode) const {
  if (mode == Mode::kRateDistortion && nlev_ > kOneStageLevels)
    throw Error("Error: -rdo takes at most 5 levels (-n 5).");
  const int width = image_->image_width, height = image_->image_height;
  // Deeper than one stage, the second stage's reduced image (1/32 of each side) must take the
  // remaining levels; the limit is given for the image itself.
  const int first = std::min(nlev_, kOneStageLevels), second = nlev_ - first;
  const int needed = second > 0 ? std::max(minimum_block_extent(first),
                                           (minimum_block_extent(second) - 1) * (1 << first) + 1)
                                : minimum_block_extent(first);
  if (width < needed || height < needed)
    throw Quorvale::Exception(format_message(
        "Error: image too small for given nlev.\nThe image is %d x %d pixels; %d levels need at "
        "least %d in each direction.",
        width, height, nlev_, needed));
  BlockGrid(width, height, block_size_, first, image_->full_width_blocks());
  if (second > 0)
    BlockGrid(reduced_size(width, first), reduced_size(height, first), block_size_, second, false);
}

void Encoder::encode(const FileSpecification& output) {
  check_geometry(Mode::kDefault);
  write_side_files(*image_, output);
  try {
    if (nlev_ <= kOneStageLevels) {
      SubbandMap map = decompose(nullptr, 0.0f, kDecomposeEnd, 0);
      write(map, output);
    } else {
      encode_two_stages(output);
    }
  } catch (...) {
    // A failed encoding leaves no world or header file without its image.
    if (!output.is_uninitialized()) remove_side_files(output);
    throw;
  }
}

void Encoder::encode_two_stages(const FileSpecification& output) {
  const float split = kDecomposeEnd * (1.0f - 1.0f / 1024.0f);
  Encoder first = with_target(image_, kOneStageLevels, target_rate_);
  float rate = 0;
  SubbandMap m1 = first.decompose(&rate, 0.0f, split, 0);
  // The reduced image lives exactly as long as the second stage reads it.
  Quorvale::ScopedTempFile icon(temp_dir());
  icon.close();
  output_icon(icon.name(), m1, image_->image_width, image_->image_height, kOneStageLevels,
              image_->coded_bands(), dither_);
  SubbandMap merged;
  {
    RFIImage reduced(icon.name(), 0, 0);
    reduced.separate_bands = image_->separate_bands;
    if (!(rate > 0.0f)) rate = 2.0f;
    Encoder second = with_target(&reduced, nlev_ - kOneStageLevels, rate);
    merged = second.decompose(nullptr, split, kDecomposeEnd, 1);
  }
  for (size_t i = 1; i < m1.size(); ++i) merged.push_back(std::move(m1[i]));
  write(merged, output);
}

float Encoder::trial(float ratio, float target, int word_length, double source_size,
                     const FileSpecification& file) {
  Encoder e = with_target(image_, nlev_, float(word_length) / ratio);
  e.encode(file);
  remove_side_files(file);
  return float(source_size / double(Quorvale::file_size_of(file))) - target;
}

void Encoder::hit_target(const FileSpecification& output, int input_bit_rate, int word_length) {
  check_geometry(Mode::kDefault);
  Quorvale::ScopedTempFile best_file(temp_dir()), current_file(temp_dir());
  best_file.close();
  current_file.close();
  const FileSpecification& best = best_file.name();
  const FileSpecification& current = current_file.name();
  const float target = float(word_length) / target_rate_;
  const double size = image_->file_size();
  const float tolerance = 0.1f * target;
  float g_lo = float(word_length) / float(input_bit_rate), e_lo = g_lo - target;
  float g_hi = target;
  float e_hi = trial(g_hi, target, word_length, size, best);
  float best_error = e_hi;
  int trials = 1;
  // Keeps the trial in `current` when it is nearer than the best so far; true when close enough.
  auto keep_if_better = [&](float e) {
    if (std::fabs(e) >= std::fabs(best_error)) return false;
    best_error = e;
    std::remove(best.path());
    if (current.rename_to(best) != 0) throw Error(" Error renaming file in hit-target.");
    return std::fabs(e) < tolerance;
  };
  bool done = std::fabs(e_hi) < tolerance;
  for (float factor = 2.0f; !done && e_hi < 0; factor *= 2.0f) {
    g_lo = g_hi;
    e_lo = e_hi;
    g_hi *= factor;
    e_hi = trial(g_hi, target, word_length, size, current);
    ++trials;
    done = keep_if_better(e_hi) || trials > 2;
  }
  while (!done) {
    // The anchor may not bracket the target (a ratio at or below word length / input rate):
    // stop with the best file rather than divide by zero.
    if (e_lo == e_hi || !std::isfinite(e_lo - e_hi)) break;
    const float g = g_lo - e_lo * (g_lo - g_hi) / (e_lo - e_hi);
    if (!(g > 0.0f) || !std::isfinite(g)) break;
    const float e = trial(g, target, word_length, size, current);
    ++trials;
    if (keep_if_better(e) || trials > 2) break;
    if (e > 0) {
      g_hi = g;
      e_hi = e;
    } else {
      g_lo = g;
      e_lo = e;
    }
  }
  if (best.rename_to(output) != 0) throw Error(" Error renaming file in hit-target.");
  best_file.release();
  write_side_files(*image_, output);
}
