#include "vxl_create.h"

#include <cpl_string.h>
#include <gdal_proxy.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "vexal/writer.h"
#include "vxl_create_copy.h"

namespace {

// A .vxl file holds at most this many bands; refused at Create rather than after the pixels.
constexpr int kMaxBands = 256;

// The folder for the staging file: TEMP_DIR, else GDAL's CPL_TMPDIR, else the system's.
std::string staging_folder(char** options) {
  if (const char* dir = CSLFetchNameValue(options, "TEMP_DIR")) return dir;
  if (const char* dir = CPLGetConfigOption("CPL_TMPDIR", nullptr)) return dir;
  std::error_code error;
  const std::filesystem::path system = std::filesystem::temp_directory_path(error);
  return error ? "." : system.string();
}

// A fresh, exclusively created file name in `folder` that GTiff then fills.
std::string reserve_staging_name(const std::string& folder, const char* filename) {
  std::string name = folder + "/vxl_staging_XXXXXX.tif";
  const int fd = mkstemps(name.data(), 4);
  if (fd < 0)
    throw vexal::Error(std::string("VXL: ") + filename + ": cannot create a temporary file in " +
                       folder + ": " + std::strerror(errno) + ".");
  close(fd);
  return name;
}

// Removes the staging GeoTIFF with whatever GDAL wrote beside it (.aux.xml).
void remove_staging(const std::string& name) {
  CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!gtiff || gtiff->Delete(name.c_str()) != CE_None) {
    VSIUnlink(name.c_str());
    VSIUnlink((name + ".aux.xml").c_str());
  }
}

class StagingBand final : public GDALProxyRasterBand {
 public:
  StagingBand(GDALDataset* owner, int band, GDALRasterBand* staged) : staged_(staged) {
    poDS = owner;
    nBand = band;
    nRasterXSize = staged->GetXSize();
    nRasterYSize = staged->GetYSize();
    eDataType = staged->GetRasterDataType();
    staged->GetBlockSize(&nBlockXSize, &nBlockYSize);
  }

 protected:
  GDALRasterBand* RefUnderlyingRasterBand() const override { return staged_; }

 private:
  GDALRasterBand* staged_;
};

// Every call goes to the staging GeoTIFF except the driver's identity and the file list; the
// destructor encodes it into the target and removes it.
class StagingDataset final : public GDALProxyDataset {
 public:
  StagingDataset(std::string target, std::string staging_name, GDALDataset* staged, char** options)
      : target_(std::move(target)),
        staging_name_(std::move(staging_name)),
        staged_(staged),
        options_(CSLDuplicate(options)) {
    nRasterXSize = staged->GetRasterXSize();
    nRasterYSize = staged->GetRasterYSize();
    eAccess = GA_Update;
    for (int b = 1; b <= staged->GetRasterCount(); ++b)
      SetBand(b, new StagingBand(this, b, staged->GetRasterBand(b)));
  }

  // GDAL 3.6's GDALClose cannot return a failure: it stays GDAL's last error.
  ~StagingDataset() override {
    CPLErrorReset();
    staged_->FlushCache(true);
    if (CPLGetLastErrorType() == CE_Failure)
      CPLError(CE_Failure, CPLE_FileIO, "VXL: %s: the pixels could not be staged in %s.",
               target_.c_str(), staging_name_.c_str());
    else
      VXLEncode(*staged_, target_.c_str(), target_.c_str(), options_.List(), nullptr, nullptr);
    CPLErrorStateBackuper keep_the_outcome;
    CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    GDALClose(staged_);
    remove_staging(staging_name_);
  }

  GDALDriver* GetDriver() override { return GDALDataset::GetDriver(); }
  char** GetFileList() override { return nullptr; }

  // Refused now rather than when the dataset closes.
  CPLErr SetGeoTransform(double* t) override {
    try {
      VXLCheckGeoTransform(t, target_.c_str());
    } catch (const std::exception& e) {
      CPLError(CE_Failure, CPLE_NotSupported, "%s", e.what());
      return CE_Failure;
    }
    return staged_->SetGeoTransform(t);
  }

 protected:
  GDALDataset* RefUnderlyingDataset() const override { return staged_; }

 private:
  std::string target_, staging_name_;
  GDALDataset* staged_;
  CPLStringList options_;
};

}  // namespace

GDALDataset* VXLCreate(const char* filename, int width, int height, int bands, GDALDataType type,
                       char** options) {
  std::string staging_name;
  try {
    VXLCheckTarget(filename, options);
    VXLCheckSampleType(type, filename);
    if (bands < 1 || bands > kMaxBands)
      throw vexal::Error(std::string("VXL: ") + filename + ": " + std::to_string(bands) +
                         " bands; a .vxl file holds 1 to " + std::to_string(kMaxBands) + ".");
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    if (!gtiff) throw vexal::Error("VXL: GDAL's GTiff driver is needed to create .vxl files.");
    staging_name = reserve_staging_name(staging_folder(options), filename);
    // Band-interleaved tiles take one band at a time without rewriting the others; sparse, so
    // what is never written costs no disk.
    const char* const tiff_options[] = {
        "TILED=YES",     "BLOCKXSIZE=256",    "BLOCKYSIZE=256", "INTERLEAVE=BAND",
        "SPARSE_OK=YES", "BIGTIFF=IF_NEEDED", nullptr};
    GDALDataset* staged = gtiff->Create(staging_name.c_str(), width, height, bands, type,
                                        const_cast<char**>(tiff_options));
    if (!staged)
      throw vexal::Error(std::string("VXL: ") + filename + ": cannot stage the pixels in " +
                         staging_name + ": " + CPLGetLastErrorMsg());
    try {
      VXLCheckEncodable(*staged, filename, filename, options);
    } catch (...) {
      GDALClose(staged);
      throw;
    }
    return new StagingDataset(filename, staging_name, staged, options);
  } catch (const std::exception& e) {
    if (!staging_name.empty()) remove_staging(staging_name);
    CPLError(CE_Failure, CPLE_AppDefined, "%s", e.what());
    return nullptr;
  }
}
