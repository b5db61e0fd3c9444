// Reads of whole requests: GDAL asks for a window of any number of blocks and gets it from one
// decode of the library (in strips of rows when it is large), straight into the caller's buffer
// when that holds the bands in order in the file's sample type, rather than from one decode per
// block. Requests that GDAL must resample keep GDAL's own path over the blocks.
#include "vxl_dataset.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <new>

namespace {

// Samples of every band decoded at once: a larger request goes in strips of rows, so that the
// decoder's working memory (a float for each) stays near 64 MiB.
constexpr int64_t kStripSamples = int64_t(1) << 24;
// Decoded windows up to this size stay for the next band's request; larger ones are freed.
constexpr size_t kKeptWindowBytes = size_t(64) << 20;

int blocks_first(int pixel) { return pixel / VXLDataset::kBlockSize; }
// Pixels of blocks b0..b1 from b0's first, the last block ending at the image's edge.
int blocks_extent(int b0, int b1, int size) {
  const int64_t end = std::min<int64_t>(int64_t(b1 + 1) * VXLDataset::kBlockSize, size);
  return int(end - int64_t(b0) * VXLDataset::kBlockSize);
}

// Whether a caller's buffer holds all `bands` in order, each row after row in the file's own
// sample type (as a whole-image read into an array does), so that strips decode straight into it.
bool band_sequential(int w, int h, int bands, int band_count, const int* band_map, int sample,
                     GDALDataType type, GDALDataType buf_type, GSpacing pixel_space,
                     GSpacing line_space, GSpacing band_space) {
  if (band_count != bands || buf_type != type || pixel_space != sample ||
      line_space != GSpacing(w) * sample)
    return false;
  for (int i = 0; i < band_count; ++i)
    if (band_map[i] != i + 1) return false;
  return bands == 1 || (band_space % sample == 0 && band_space >= GSpacing(h) * line_space);
}

}  // namespace

CPLErr VXLDataset::Decode(int x, int y, int w, int h, void* buffer, size_t band_stride) {
  try {
    reader_->read(level_, x, y, x + w - 1, y + h - 1, buffer, band_stride);
  } catch (const std::bad_alloc&) {
    CPLError(CE_Failure, CPLE_OutOfMemory, "%s: not enough memory to decode a %d x %d window.",
             reader_->path().c_str(), w, h);
    return CE_Failure;
  } catch (const std::exception& e) {
    CPLError(CE_Failure, CPLE_FileIO, "%s", e.what());
    return CE_Failure;
  }
  return CE_None;
}

CPLErr VXLDataset::DecodeWindow(int x, int y, int w, int h) {
  const int at[4] = {x, y, w, h};
  if (std::equal(at, at + 4, window_at_)) return CE_None;
  window_at_[2] = 0;
  try {
    window_.resize(size_t(w) * size_t(h) * size_t(nBands) *
                   vexal::sample_size(reader_->sample_type()));
  } catch (const std::bad_alloc&) {
    CPLError(CE_Failure, CPLE_OutOfMemory, "%s: not enough memory to decode a %d x %d window.",
             reader_->path().c_str(), w, h);
    return CE_Failure;
  }
  if (Decode(x, y, w, h, window_.data(), size_t(w) * size_t(h)) != CE_None) return CE_Failure;
  std::copy(at, at + 4, window_at_);
  return CE_None;
}

CPLErr VXLDataset::ReadWindow(int x, int y, int w, int h, int band_count, const int* band_map,
                              void* data, GDALDataType buf_type, GSpacing pixel_space,
                              GSpacing line_space, GSpacing band_space) {
  const GDALDataType type = GetRasterBand(1)->GetRasterDataType();
  const int sample = GDALGetDataTypeSizeBytes(type);
  const int strip = int(std::clamp<int64_t>(kStripSamples / (int64_t(w) * nBands), 1, h));
  const bool direct = band_sequential(w, h, nBands, band_count, band_map, sample, type, buf_type,
                                      pixel_space, line_space, band_space);
  for (int r0 = 0; r0 < h; r0 += strip) {
    const int rows = std::min(strip, h - r0);
    if (direct) {
      const size_t band_stride = nBands == 1 ? size_t(w) * size_t(h) : size_t(band_space / sample);
      if (Decode(x, y + r0, w, rows, static_cast<unsigned char*>(data) + r0 * line_space,
                 band_stride) != CE_None)
        return CE_Failure;
      continue;
    }
    if (DecodeWindow(x, y + r0, w, rows) != CE_None) return CE_Failure;
    const size_t row = size_t(w) * size_t(sample), plane = row * size_t(rows);
    for (int i = 0; i < band_count; ++i) {
      const unsigned char* from = window_.data() + plane * size_t(band_map[i] - 1);
      unsigned char* to = static_cast<unsigned char*>(data) + i * band_space + r0 * line_space;
      for (int r = 0; r < rows; ++r)
        GDALCopyWords64(from + size_t(r) * row, type, sample, to + r * line_space, buf_type,
                        int(pixel_space), w);
    }
  }
  if (window_.size() > kKeptWindowBytes) {
    std::vector<unsigned char>().swap(window_);
    window_at_[2] = 0;
  }
  return CE_None;
}

CPLErr VXLDataset::CacheBlocks(int bx0, int by0, int bx1, int by1, int wanted, void* out) {
  const int x0 = bx0 * kBlockSize, y0 = by0 * kBlockSize;
  const int w = blocks_extent(bx0, bx1, nRasterXSize), h = blocks_extent(by0, by1, nRasterYSize);
  if (DecodeWindow(x0, y0, w, h) != CE_None) return CE_Failure;
  const size_t sample = vexal::sample_size(reader_->sample_type());
  const size_t plane = size_t(w) * size_t(h) * sample;
  for (int by = by0; by <= by1; ++by)
    for (int bx = bx0; bx <= bx1; ++bx) {
      const int bw = blocks_extent(bx, bx, nRasterXSize), bh = blocks_extent(by, by, nRasterYSize);
      const size_t first = (size_t(by - by0) * kBlockSize * size_t(w) + size_t(bx - bx0) * kBlockSize) * sample;
      for (int b = 1; b <= nBands; ++b) {
        GDALRasterBlock* cached = nullptr;
        void* target = out;
        if (b != wanted || bx != bx0 || by != by0) {
          GDALRasterBand* band = GetRasterBand(b);
          if ((cached = band->TryGetLockedBlockRef(bx, by)) != nullptr) {
            cached->DropLock();
            continue;
          }
          cached = band->GetLockedBlockRef(bx, by, TRUE);
          if (!cached) continue;
          target = cached->GetDataRef();
        }
        const unsigned char* from = window_.data() + plane * size_t(b - 1) + first;
        unsigned char* to = static_cast<unsigned char*>(target);
        if (bw != kBlockSize || bh != kBlockSize)
          std::memset(to, 0, size_t(kBlockSize) * kBlockSize * sample);
        for (int y = 0; y < bh; ++y)
          std::memcpy(to + size_t(y) * kBlockSize * sample, from + size_t(y) * size_t(w) * sample,
                      size_t(bw) * sample);
        if (cached) cached->DropLock();
      }
    }
  return CE_None;
}

void VXLDataset::PrefetchBlocks(int x, int y, int w, int h) {
  const int bx0 = blocks_first(x), by0 = blocks_first(y);
  const int bx1 = blocks_first(x + w - 1), by1 = blocks_first(y + h - 1);
  if (bx0 == bx1 && by0 == by1) return;
  const double bytes = double(blocks_extent(bx0, bx1, nRasterXSize)) *
                       blocks_extent(by0, by1, nRasterYSize) * nBands *
                       double(vexal::sample_size(reader_->sample_type()));
  if (bytes > double(GDALGetCacheMax64()) / 4) return;
  // A failure here comes again, reported, when GDAL reads the block itself.
  CPLErrorStateBackuper state;
  CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
  CacheBlocks(bx0, by0, bx1, by1, 0, nullptr);
}

CPLErr VXLDataset::IRasterIO(GDALRWFlag rw, int x, int y, int w, int h, void* data, int buf_w,
                             int buf_h, GDALDataType buf_type, int band_count, int* band_map,
                             GSpacing pixel_space, GSpacing line_space, GSpacing band_space,
                             GDALRasterIOExtraArg* extra) {
  if (rw == GF_Read && buf_w == w && buf_h == h && pixel_space <= INT_MAX)
    return ReadWindow(x, y, w, h, band_count, band_map, data, buf_type, pixel_space, line_space,
                      band_space);
  // GDAL takes a downsampled full-size request to an overview itself.
  if (rw == GF_Read && (level_ > 0 || (buf_w >= w && buf_h >= h))) PrefetchBlocks(x, y, w, h);
  return GDALPamDataset::IRasterIO(rw, x, y, w, h, data, buf_w, buf_h, buf_type, band_count,
                                   band_map, pixel_space, line_space, band_space, extra);
}

CPLErr VXLRasterBand::IRasterIO(GDALRWFlag rw, int x, int y, int w, int h, void* data, int buf_w,
                                int buf_h, GDALDataType buf_type, GSpacing pixel_space,
                                GSpacing line_space, GDALRasterIOExtraArg* extra) {
  auto* ds = static_cast<VXLDataset*>(poDS);
  if (rw == GF_Read && buf_w == w && buf_h == h && pixel_space <= INT_MAX)
    return ds->ReadWindow(x, y, w, h, 1, &nBand, data, buf_type, pixel_space, line_space, 0);
  if (rw == GF_Read && (ds->level_ > 0 || (buf_w >= w && buf_h >= h))) ds->PrefetchBlocks(x, y, w, h);
  return GDALPamRasterBand::IRasterIO(rw, x, y, w, h, data, buf_w, buf_h, buf_type, pixel_space,
                                      line_space, extra);
}
