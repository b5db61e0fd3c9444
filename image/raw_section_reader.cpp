// ImageFile::extract_raw: the section reader shared by every format whose samples lie
// uncompressed in its file. Samples are copied as stored; the raw formats are little-endian,
// like the hosts this runs on.
#include <algorithm>
#include <memory>
#include <vector>

#include "image/image.h"
#include "platform/error.h"

namespace {

constexpr int kMaxPlanes = 4;

// Where each output plane's sample of overlap pixel i sits in the row buffer:
// buffer[base[p] + i * step], and which planes are compared with t0, t1, t2.
struct RowLayout {
  bool planar = false;       // band-interleaved or band-sequential: one run per line/band
  int lines = 0;             // planar: runs read per row (run k lands at k * n in the buffer)
  int line_of_run[kMaxPlanes] = {0, 0, 0, 0};  // planar: file line/band of run k
  int planes = 0;            // output planes written
  int64_t base[kMaxPlanes] = {0, 0, 0, 0};
  int step = 1;
  int compared = 0;          // transparent test: plane compare_plane[j] against t[j]
  int compare_plane[3] = {0, 1, 2};
  bool straight = false;     // one band, read directly into plane 0
};

void set_interleaved(RowLayout* l, int bands, std::initializer_list<int> sample_of_plane) {
  l->step = bands;
  l->planes = static_cast<int>(sample_of_plane.size());
  int p = 0;
  for (int s : sample_of_plane) l->base[p++] = s;
  l->compared = 3;
}

// Band k of the file goes to plane plane_of_line[k].
void set_planar(RowLayout* l, int n, std::initializer_list<int> plane_of_line) {
  l->planar = true;
  l->lines = static_cast<int>(plane_of_line.size());
  l->planes = l->lines;
  int k = 0;
  for (int p : plane_of_line) {
    l->line_of_run[k] = k;
    l->base[p] = int64_t{k} * n;
    ++k;
  }
  l->compared = std::min(l->planes, 3);
}

void require_bands(bool ok, const char* message) {
  if (!ok) throw Error(message);
}

constexpr const char* kIncompatible =
    "Incompatible band structure encountered in ImageFile::extract_raw().";

RowLayout layout_for(BandOrder order, int bands, int n) {
  RowLayout l;
  const bool pixel_order = order == BandOrder::Grayscale || order == BandOrder::RGB ||
                           order == BandOrder::BGR;
  if (pixel_order && bands == 1) {
    l.straight = true;
    l.planes = 1;
    return l;
  }
  switch (order) {
    case BandOrder::Grayscale:
      l.step = bands;
      l.planes = 1;
      return l;
    case BandOrder::RGB:
      require_bands(bands >= 3, kIncompatible);
      set_interleaved(&l, bands, {0, 1, 2});
      return l;
    case BandOrder::BGR:
      require_bands(bands >= 3, kIncompatible);
      set_interleaved(&l, bands, {2, 1, 0});
      // compared in file order: sample 0 (plane 2) with t0, sample 2 (plane 0) with t2
      l.compare_plane[0] = 2;
      l.compare_plane[2] = 0;
      return l;
    case BandOrder::XRGB:
    case BandOrder::XBGR:
      require_bands(bands == 4,
                    "Unexpected band structure encountered in subroutine "
                    "ImageFile::uninterleave32.");
      if (order == BandOrder::XRGB)
        set_interleaved(&l, 4, {1, 2, 3});
      else
        set_interleaved(&l, 4, {3, 2, 1});
      return l;
    case BandOrder::RGB_BIL:
    case BandOrder::RGB_BSQ:
      if (bands >= 3) set_planar(&l, n, {0, 1, 2});
      else if (bands == 2) set_planar(&l, n, {0, 1});
      else set_planar(&l, n, {0});
      return l;
    case BandOrder::BGRX_BIL:
      require_bands(bands == 4, kIncompatible);
      set_planar(&l, n, {2, 1, 0});
      return l;
    case BandOrder::CMYK_BSQ:
      // The transparent value has three components: a pixel matching them in the first three
      // planes is left alone in all four.
      if (bands >= 4) set_planar(&l, n, {0, 1, 2, 3});
      else if (bands == 3) set_planar(&l, n, {0, 1, 2});
      else if (bands == 2) set_planar(&l, n, {0, 1});
      else set_planar(&l, n, {0});
      l.compared = std::min(l.planes, 3);
      return l;
  }
  throw Error("Error: unknown band order encountered in subroutine extract_rgb.");
}

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// What one call reads: the overlap and how file rows map onto the output planes.
struct RawJob {
  FILE* file;
  const std::string* name;
  int64_t header;
  int64_t stride;      // bytes per file row, pixel-interleaved layouts
  int64_t width;       // file width W
  int64_t height;      // file height H
  int bands;
  BandOrder order;
  int sample_size;
  int64_t first_col;   // c0, file column of the overlap's first pixel
  int n;               // overlap width
};

void read_at(const RawJob& job, int64_t offset, void* into, size_t count) {
  if (fseeko(job.file, offset, SEEK_SET) != 0 ||
      std::fread(into, job.sample_size, count, job.file) != count)
    throw ReadError(*job.name);
}

// Offset of run k of file row `row`, relative to the file's start.
int64_t run_offset(const RawJob& job, int64_t row, int k) {
  const int64_t S = job.sample_size;
  switch (job.order) {
    case BandOrder::RGB_BIL:
    case BandOrder::BGRX_BIL:
      return job.header + (row * job.width * job.bands + k * job.width + job.first_col) * S;
    case BandOrder::RGB_BSQ:
    case BandOrder::CMYK_BSQ:
      return job.header + ((k * job.height + row) * job.width + job.first_col) * S;
    default:
      return job.header + row * job.stride + job.first_col * job.bands * S;
  }
}

template <typename T>
bool matches_transparent(const RowLayout& l, const T* row, int i, const uint8_t* t) {
  for (int j = 0; j < l.compared; ++j) {
    const int p = l.compare_plane[j];
    if (row[l.base[p] + static_cast<int64_t>(i) * l.step] != static_cast<T>(t[j])) return false;
  }
  return l.compared > 0;
}

template <typename T>
void place_row(const RowLayout& l, const T* row, int n, T* out, int64_t plane_step,
               const uint8_t* transparent) {
  for (int i = 0; i < n; ++i) {
    if (transparent && matches_transparent(l, row, i, transparent)) continue;
    for (int p = 0; p < l.planes; ++p)
      out[p * plane_step + i] = row[l.base[p] + static_cast<int64_t>(i) * l.step];
  }
}

template <typename T>
void read_rows(const RawJob& job, const RowLayout& l, int64_t first_row, int rows, T* out,
               int64_t out_row_step, int64_t plane_step, const uint8_t* transparent) {
  const size_t n = static_cast<size_t>(job.n);
  std::vector<T> row(l.straight ? 0 : (l.planar ? n * l.lines : n * job.bands));
  for (int r = 0; r < rows; ++r) {
    T* dest = out + r * out_row_step;
    const int64_t file_row = first_row + r;
    if (l.straight) {
      read_at(job, run_offset(job, file_row, 0), dest, n);
      continue;
    }
    if (l.planar) {
      for (int k = 0; k < l.lines; ++k)
        read_at(job, run_offset(job, file_row, l.line_of_run[k]), row.data() + k * n, n);
    } else {
      read_at(job, run_offset(job, file_row, 0), row.data(), row.size());
    }
    const bool test = transparent && job.order != BandOrder::Grayscale;
    place_row(l, row.data(), job.n, dest, plane_step, test ? transparent : nullptr);
  }
}

}  // namespace

BandOrder band_order_from_word(const std::string& word) {
  static const std::pair<const char*, BandOrder> kWords[] = {
      {"GRAYSCALE", BandOrder::Grayscale}, {"RGB", BandOrder::RGB},
      {"BGR", BandOrder::BGR},             {"XRGB", BandOrder::XRGB},
      {"XBGR", BandOrder::XBGR},           {"RGB_BIL", BandOrder::RGB_BIL},
      {"BGRX_BIL", BandOrder::BGRX_BIL},   {"RGB_BSQ", BandOrder::RGB_BSQ},
      {"CMYK_BSQ", BandOrder::CMYK_BSQ}};
  for (const auto& [text, order] : kWords)
    if (word == text) return order;
  throw Error("Error: unknown band order encountered in subroutine extract_rgb.");
}

void ImageFile::extract_raw(int section_support[2][2], void* out, int sample_size,
                            int file_width, int file_height, int bands, int64_t header_bytes,
                            BandOrder order, int64_t row_stride, const uint8_t* transparent) {
  if (!sections_intersect(support, section_support)) return;
  // The overlap, also kept inside the file's own extent.
  const int x0 = std::max({support[0][0], section_support[0][0]});
  const int x1 = std::min({support[0][1], section_support[0][1], support[0][0] + file_width - 1});
  const int y0 = std::max({support[1][0], section_support[1][0]});
  const int y1 = std::min({support[1][1], section_support[1][1], support[1][0] + file_height - 1});
  if (x1 < x0 || y1 < y0 || bands < 1) return;
  if (sample_size != 1 && sample_size != 2 && sample_size != 4)
    throw Error("Error: unknown data type in Image::extract( int section_support[2][2] ).");
  const int n = x1 - x0 + 1;
  const RowLayout layout = layout_for(order, bands, n);

  FilePtr file(file_.open("rb"));
  if (!file) throw OpenError(file_.str(), "read");
  RawJob job{file.get(), &file_.str(), header_bytes,
             row_stride ? row_stride : int64_t{file_width} * bands * sample_size,
             file_width, file_height, bands, order, sample_size, x0 - support[0][0], n};

  const int64_t section_w = int64_t{section_support[0][1]} - section_support[0][0] + 1;
  const int64_t section_h = int64_t{section_support[1][1]} - section_support[1][0] + 1;
  const int64_t start = (y0 - int64_t{section_support[1][0]}) * section_w + (x0 - section_support[0][0]);
  const int64_t plane_step = section_w * section_h;
  const int64_t first_row = y0 - support[1][0];
  const int rows = y1 - y0 + 1;
  switch (sample_size) {
    case 1:
      read_rows(job, layout, first_row, rows, static_cast<uint8_t*>(out) + start, section_w,
                plane_step, transparent);
      break;
    case 2:
      read_rows(job, layout, first_row, rows, static_cast<uint16_t*>(out) + start, section_w,
                plane_step, transparent);
      break;
    default:
      read_rows(job, layout, first_row, rows, static_cast<float*>(out) + start, section_w,
                plane_step, transparent);
      break;
  }
}
