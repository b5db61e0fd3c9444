// A .vxl file as a GDAL dataset: every band with its colour and nodata value, the
// georeferencing, the metadata records in the "VXL" domain, and levels 1..L as overviews. All
// decoding goes through the public reading library; the dataset only maps its answers onto
// GDAL's model.
#pragma once

#include <gdal_pam.h>
#include <ogr_spatialref.h>

#include <memory>
#include <vector>

#include "vexal/reader.h"

class VXLRasterBand;

class VXLDataset final : public GDALPamDataset {
  friend class VXLRasterBand;

 public:
  // Large enough that the filters' reach past a block's edges costs little, small enough that a
  // viewer's first screen comes quickly.
  static constexpr int kBlockSize = 512;

  ~VXLDataset() override;
  static int Identify(GDALOpenInfo* info);
  static GDALDataset* Open(GDALOpenInfo* info);

  CPLErr GetGeoTransform(double* transform) override;
  const OGRSpatialReference* GetSpatialRef() const override;
  char** GetMetadataDomainList() override;
  char** GetMetadata(const char* domain = "") override;
  const char* GetMetadataItem(const char* name, const char* domain = "") override;

 protected:
  // A request at the size of its window is decoded at once (see vxl_raster_io.cpp); one that GDAL
  // must resample takes GDAL's own path.
  CPLErr IRasterIO(GDALRWFlag rw, int x, int y, int w, int h, void* data, int buf_w, int buf_h,
                   GDALDataType buf_type, int band_count, int* band_map, GSpacing pixel_space,
                   GSpacing line_space, GSpacing band_space, GDALRasterIOExtraArg* extra) override;

 private:
  // level 0 is the file itself; its overviews share its reader.
  VXLDataset(std::shared_ptr<vexal::Reader> reader, int level);
  // Decodes blocks bx0..bx1, by0..by1 of every band at once and hands each band's part to GDAL's
  // block cache, leaving blocks it holds already; block (bx0, by0) of band `wanted` is copied
  // into `out` instead (no band: 0).
  CPLErr CacheBlocks(int bx0, int by0, int bx1, int by1, int wanted, void* out);
  // Copies the window x, y, w, h of the listed bands into a caller's buffer laid out as GDAL's
  // RasterIO describes it, decoding strips of rows through DecodeWindow.
  CPLErr ReadWindow(int x, int y, int w, int h, int band_count, const int* band_map, void* data,
                    GDALDataType buf_type, GSpacing pixel_space, GSpacing line_space,
                    GSpacing band_space);
  // Decodes the window of every band into window_, unless window_ holds it already.
  CPLErr DecodeWindow(int x, int y, int w, int h);
  // Decodes the window of every band into `buffer`, band b at b * band_stride samples.
  CPLErr Decode(int x, int y, int w, int h, void* buffer, size_t band_stride);
  // Before GDAL resamples the window x, y, w, h of this level from blocks: decodes the blocks it
  // covers in one go, when they fit GDAL's block cache easily.
  void PrefetchBlocks(int x, int y, int w, int h);
  void LoadSpatialRef();

  std::shared_ptr<vexal::Reader> reader_;
  int level_;
  std::vector<std::unique_ptr<VXLDataset>> overviews_;
  OGRSpatialReference srs_;
  CPLStringList vxl_metadata_;
  // The last decoded window of every band, band after band: a client that reads the bands of a
  // window one by one (QGIS) decodes it once.
  std::vector<unsigned char> window_;
  int window_at_[4] = {0, 0, 0, 0};  // x, y, w, h; w 0: nothing held
};

class VXLRasterBand final : public GDALPamRasterBand {
 public:
  VXLRasterBand(VXLDataset* dataset, int band, GDALDataType type, int block_size);

  CPLErr IReadBlock(int bx, int by, void* image) override;
  CPLErr IRasterIO(GDALRWFlag rw, int x, int y, int w, int h, void* data, int buf_w, int buf_h,
                   GDALDataType buf_type, GSpacing pixel_space, GSpacing line_space,
                   GDALRasterIOExtraArg* extra) override;
  GDALColorInterp GetColorInterpretation() override;
  double GetNoDataValue(int* success = nullptr) override;
  // From the file's statistics record, when it has one, without reading a pixel; else GDAL's.
  CPLErr ComputeStatistics(int approx_ok, double* min, double* max, double* mean, double* stddev,
                           GDALProgressFunc progress, void* progress_data) override;
  CPLErr ComputeRasterMinMax(int approx_ok, double* min_max) override;
  // From the file's histogram record (8-bit bands) when every sample value falls clearly in one
  // bucket, without reading a pixel and so exact even when approximation is allowed; overviews
  // answer with the full image's. Else GDAL's.
  CPLErr GetHistogram(double min, double max, int buckets, GUIntBig* histogram,
                      int include_out_of_range, int approx_ok, GDALProgressFunc progress,
                      void* progress_data) override;
  // A histogram saved beside the file first, else GDAL's default layout for bytes (-0.5..255.5
  // in 256 buckets) from the record, else GDAL's.
  CPLErr GetDefaultHistogram(double* min, double* max, int* buckets, GUIntBig** histogram,
                             int force, GDALProgressFunc progress, void* progress_data) override;
  int GetOverviewCount() override;
  GDALRasterBand* GetOverview(int index) override;

 private:
  const vexal::BandStatistics* Recorded() const;
  const vexal::Histogram* RecordedHistogram() const;
};
