#include "decoder/decoded_image.h"

#include <cstring>
#include <optional>

#include "metadata/nodata_mask.h"
#include "platform/avx2_clones.h"

#include <algorithm>
#include <cmath>

namespace {

// Solves the 3 x 3 system once so the inverse is the exact inverse of the encoder's matrix.
struct InverseYiq {
  double m[3][3];
  InverseYiq() {
    const double a[3][3] = {{0.3f, 0.6f, 0.1f}, {0.6f, -0.28f, -0.32f}, {0.21f, -0.53f, 0.32f}};
    const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                       a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                       a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        const int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
        m[r][c] = (a[r1][c1] * a[r2][c2] - a[r1][c2] * a[r2][c1]) / det;
      }
  }
};

// NaN (only a damaged file yields one) becomes 0: converting it to an integer is undefined.
// Rounding a float to an integer is exact in float, and the bounds are floats, so this works in
// single precision, on vectors.
template <typename T>
VEXAL_WIDE_CLONES void store_rounded(const float* plane, size_t n, float min, float max, T* out) {
  for (size_t i = 0; i < n; ++i) {
    float v = std::nearbyint(plane[i]);
    v = v == v ? v : 0.0f;
    v = v < min ? min : v;
    out[i] = static_cast<T>(v > max ? max : v);
  }
}

// The TIFF reader codes a CMYK pixel as the planes 255 - (C + K) / 2, 255 - (M + K) / 2,
// 255 - (Y + K) / 2 and min(C, M, Y). The smallest of the three sums is min(C, M, Y) + K, which
// gives K back, and K the three inks.
void inks_from_tiff_cmyk_planes(float* p0, float* p1, float* p2, float* p3, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const double smallest_sum = 2.0 * (255.0 - std::max({p0[i], p1[i], p2[i]}));
    const double k = std::clamp(smallest_sum - p3[i], 0.0, 255.0);
    p0[i] = float(2.0 * (255.0 - p0[i]) - k);
    p1[i] = float(2.0 * (255.0 - p1[i]) - k);
    p2[i] = float(2.0 * (255.0 - p2[i]) - k);
    p3[i] = float(k);
  }
}

// Only TIFF sources (which alone record their bits per sample) code CMYK that way; JPEG and
// raw CMYK sources code the inks themselves.
bool coded_as_tiff_cmyk(const VxlFile& file, int data_type) {
  return file.bands() == 4 && data_type == 0 &&
         metadata_long(file.metadata(), "IMAGE::COLOR_SCHEME", -1) == 2 &&
         metadata_find(&file.metadata(), "IMAGE::BITS_PER_SAMPLE") >= 0;
}

}  // namespace

namespace {

VEXAL_WIDE_CLONES void apply_inverse_yiq(const InverseYiq& inv, float* y, float* i, float* q,
                                         size_t n) {
  for (size_t k = 0; k < n; ++k) {
    const double v[3] = {y[k], i[k], q[k]};
    y[k] = float(inv.m[0][0] * v[0] + inv.m[0][1] * v[1] + inv.m[0][2] * v[2]);
    i[k] = float(inv.m[1][0] * v[0] + inv.m[1][1] * v[1] + inv.m[1][2] * v[2]);
    q[k] = float(inv.m[2][0] * v[0] + inv.m[2][1] * v[1] + inv.m[2][2] * v[2]);
  }
}

}  // namespace

void inverse_yiq(float* y, float* i, float* q, size_t n) {
  static const InverseYiq inv;
  apply_inverse_yiq(inv, y, i, q, n);
}

int32_t metadata_long(const MetadataList& list, const char* key, int32_t fallback) {
  const MetadataRecord* r = metadata_record(&list, key);
  if (!r || r->type != TYPE_LONG || r->values.size() < 4) return fallback;
  int32_t v;
  std::copy_n(r->values.data(), 4, reinterpret_cast<uint8_t*>(&v));
  return v;
}

// The bands' colour names of a file whose bands were coded separately: "IMAGE::BAND_COLORS",
// comma-separated; empty for other files.
std::vector<std::string> band_colors_of(const MetadataList& list) {
  std::vector<std::string> colors;
  const MetadataRecord* r = metadata_record(&list, "IMAGE::BAND_COLORS");
  if (!r || r->type != TYPE_ASCII || r->strings.empty()) return colors;
  const std::string& text = r->strings[0];
  for (size_t start = 0;;) {
    const size_t comma = text.find(',', start);
    colors.push_back(text.substr(start, comma == std::string::npos ? comma : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return colors;
}

bool signed_samples(const MetadataList& list) {
  const MetadataRecord* format = metadata_record(&list, "IMAGE::SAMPLE_FORMAT");
  uint16_t sample_format = 1;
  if (format && format->type == TYPE_SHORT && format->values.size() >= 2)
    std::memcpy(&sample_format, format->values.data(), 2);
  return metadata_long(list, "IMAGE::DATA_TYPE", 0) == 2 && sample_format == 2;  // TIFF's INT
}

std::optional<double> nodata_of(const MetadataList& list) {
  const MetadataRecord* r = metadata_record(&list, "IMAGE::NODATA");
  if (!r || r->type != TYPE_DOUBLE || r->values.size() < 8) return std::nullopt;
  double v;
  std::memcpy(&v, r->values.data(), 8);
  return v;
}

namespace {

// Puts the nodata value back on the pixels the mask names; a pixel of a reduced level takes
// the state of the full-size pixel at the centre of its footprint. Samples of the other pixels
// that coding error would turn into the nodata value are moved one step off it, so that a
// viewer shows exactly the source's nodata areas as nodata. Integer samples lie in lo .. hi.
void restore_nodata(const VxlFile& file, int level, const Window& window, double value,
                    bool integer, double lo, double hi,
                    std::vector<platform::FloatBuffer>& planes) {
  const MetadataRecord* r = metadata_record(&file.metadata(), "IMAGE::NODATA_MASK");
  if (!r || r->type != TYPE_BYTE) return;
  const NodataMask& mask = file.nodata_mask();
  const int64_t half = (int64_t{1} << level) / 2;
  const float off = integer ? float(value < hi ? value + 1 : value - 1)
                            : std::nextafter(float(value), float(value) + 1.0f);
  for (int y = 0; y < window.height(); ++y) {
    const int64_t fy = std::min<int64_t>(((int64_t{window.y0} + y) << level) + half, file.height() - 1);
    for (int x = 0; x < window.width(); ++x) {
      const int64_t fx = std::min<int64_t>(((int64_t{window.x0} + x) << level) + half, file.width() - 1);
      const size_t i = size_t(y) * size_t(window.width()) + size_t(x);
      if (mask.is_nodata(int(fx), int(fy))) {
        for (auto& plane : planes) plane[i] = float(value);
        continue;
      }
      for (auto& plane : planes) {
        const double stored = integer ? std::clamp(double(std::nearbyint(plane[i])), lo, hi)
                                      : double(plane[i]);
        if (stored == value) plane[i] = off;
      }
    }
  }
}

}  // namespace

namespace {

// Rows below which a window is not cut into pieces for the threads: each piece decodes a margin
// of rows at every level.
constexpr int kPieceRows = 128;

size_t data_type_size(int data_type) { return data_type == 1 ? 4 : data_type == 2 ? 2 : 1; }

// `records` holds every record the window needs.
void decode_whole(const VxlFile& file, int level, const Window& window, RecordCache* cache,
                  const FetchedBytes& records, void* out, size_t band_stride) {
  const int data_type = metadata_long(file.metadata(), "IMAGE::DATA_TYPE", 0);
  const bool dithered = metadata_find(&file.metadata(), "IMAGE::NO_DITHER") < 0;
  const int bands = file.bands();
  std::vector<platform::FloatBuffer> planes(static_cast<size_t>(bands));
  on_threads(bands, [&](int b) {
    planes[size_t(b)] = decode_band_region(file, b, level, window, dithered, cache, &records);
  });
  const size_t n = size_t(window.width()) * size_t(window.height());
  // Separately coded bands never went through the colour transform.
  const bool separate = metadata_find(&file.metadata(), "IMAGE::BAND_COLORS") >= 0;
  // The colour transform and the rounding work pixel by pixel: rows at a time on the threads.
  const size_t width = size_t(window.width());
  const int64_t samples = int64_t(n) * bands;
  if (data_type != 1 && bands >= 3 && !separate)
    in_pieces(window.height(), samples, [&](int r0, int r1) {
      const size_t at = size_t(r0) * width;
      inverse_yiq(planes[0].data() + at, planes[1].data() + at, planes[2].data() + at,
                  size_t(r1 - r0) * width);
    });
  if (coded_as_tiff_cmyk(file, data_type))
    inks_from_tiff_cmyk_planes(planes[0].data(), planes[1].data(), planes[2].data(),
                               planes[3].data(), n);
  const bool is_signed = signed_samples(file.metadata());
  if (const std::optional<double> nodata = nodata_of(file.metadata())) {
    const double lo = is_signed ? -32768.0 : 0.0;
    const double hi = data_type == 2 ? (is_signed ? 32767.0 : 65535.0) : 255.0;
    restore_nodata(file, level, window, *nodata, data_type != 1, lo, hi, planes);
  }
  in_pieces(window.height(), samples, [&](int r0, int r1) {
    const size_t from = size_t(r0) * width, count = size_t(r1 - r0) * width;
    for (int b = 0; b < bands; ++b) {
      const float* plane = planes[size_t(b)].data() + from;
      const size_t at = size_t(b) * band_stride + from;
      if (data_type == 2 && is_signed)
        store_rounded(plane, count, -32768.0f, 32767.0f, static_cast<int16_t*>(out) + at);
      else if (data_type == 1)
        std::copy(plane, plane + count, static_cast<float*>(out) + at);
      else if (data_type == 2)
        store_rounded(plane, count, 0.0f, 65535.0f, static_cast<uint16_t*>(out) + at);
      else
        store_rounded(plane, count, 0.0f, 255.0f, static_cast<uint8_t*>(out) + at);
    }
  });
}

}  // namespace

void decode_samples(const VxlFile& file, int level, const Window& window, RecordCache* cache,
                    void* out, size_t band_stride) {
  const size_t plane = size_t(window.width()) * size_t(window.height());
  if (band_stride == 0) band_stride = plane;
  // Bands side by side leave threads idle when there are fewer of them than threads (or not a
  // multiple): a tall window goes in pieces of rows instead, every band of a piece on one thread.
  // The samples do not depend on the cut.
  const int threads = decoder_threads(), bands = file.bands();
  const int pieces = std::min(window.height() / kPieceRows, threads);
  // Every record the window needs, in one batch of merged reads (also for all the pieces).
  const FetchedBytes records = fetch_records(file, subband_windows(file, level, window), cache);
  if (threads < 2 || bands % threads == 0 || pieces < 2 ||
      int64_t(plane) * bands < (int64_t(1) << 20)) {
    decode_whole(file, level, window, cache, records, out, band_stride);
    return;
  }
  const size_t sample = data_type_size(metadata_long(file.metadata(), "IMAGE::DATA_TYPE", 0));
  const int step = (window.height() + pieces - 1) / pieces;
  on_threads(pieces, [&](int p) {
    const int r0 = p * step, r1 = std::min(window.height(), r0 + step);
    if (r0 >= r1) return;
    const Window piece{window.x0, window.y0 + r0, window.x1, window.y0 + r1 - 1};
    decode_whole(file, level, piece, cache, records,
                 static_cast<unsigned char*>(out) + size_t(r0) * size_t(window.width()) * sample,
                 band_stride);
  });
}

DecodedImage decode_image(const VxlFile& file, int level, const Window& window) {
  DecodedImage img;
  img.width = window.width();
  img.height = window.height();
  img.bands = file.bands();
  img.data_type = metadata_long(file.metadata(), "IMAGE::DATA_TYPE", 0);
  img.color_scheme = metadata_long(file.metadata(), "IMAGE::COLOR_SCHEME", -1);
  const size_t n = size_t(img.width) * size_t(img.height) * size_t(img.bands);
  void* out;
  if (img.data_type == 1) {
    img.f32.resize(n);
    out = img.f32.data();
  } else if (img.data_type == 2) {
    img.u16.resize(n);
    out = img.u16.data();
  } else {
    img.u8.resize(n);
    out = img.u8.data();
  }
  decode_samples(file, level, window, nullptr, out);
  return img;
}
