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
  ~VXLDataset() override;
  static int Identify(GDALOpenInfo* info);
  static GDALDataset* Open(GDALOpenInfo* info);

  CPLErr GetGeoTransform(double* transform) override;
  const OGRSpatialReference* GetSpatialRef() const override;
  char** GetMetadataDomainList() override;
  char** GetMetadata(const char* domain = "") override;
  const char* GetMetadataItem(const char* name, const char* domain = "") override;

 private:
  // level 0 is the file itself; its overviews share its reader.
  VXLDataset(std::shared_ptr<vexal::Reader> reader, int level);
  // Decodes block (bx, by) of every band and hands each band's part to GDAL's block cache;
  // `wanted` (band number) is copied into `out` instead.
  CPLErr ReadBlocks(int bx, int by, int wanted, void* out);
  void LoadSpatialRef();

  std::shared_ptr<vexal::Reader> reader_;
  int level_;
  std::vector<std::unique_ptr<VXLDataset>> overviews_;
  OGRSpatialReference srs_;
  CPLStringList vxl_metadata_;
  std::vector<unsigned char> block_;  // one decoded block of every band
};

class VXLRasterBand final : public GDALPamRasterBand {
 public:
  VXLRasterBand(VXLDataset* dataset, int band, GDALDataType type, int block_size);

  CPLErr IReadBlock(int bx, int by, void* image) override;
  GDALColorInterp GetColorInterpretation() override;
  double GetNoDataValue(int* success = nullptr) override;
  int GetOverviewCount() override;
  GDALRasterBand* GetOverview(int index) override;
};
