#include "vxl_dataset.h"

#include "recorded_histogram.h"
#include "vsi_source.h"

#include <cpl_vsi.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string>

namespace {

GDALDataType gdal_type_of(vexal::SampleType type) {
  switch (type) {
    case vexal::SampleType::kUInt8: return GDT_Byte;
    case vexal::SampleType::kUInt16: return GDT_UInt16;
    case vexal::SampleType::kInt16: return GDT_Int16;
    case vexal::SampleType::kFloat32: return GDT_Float32;
  }
  return GDT_Unknown;
}

// A band's colour: its name for separately coded bands (GDAL's own names, which the encoder
// stores), else the file's colour scheme.
GDALColorInterp color_of(const vexal::Reader& reader, int band) {
  static const GDALColorInterp rgb[] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand};
  static const GDALColorInterp cmyk[] = {GCI_CyanBand, GCI_MagentaBand, GCI_YellowBand,
                                         GCI_BlackBand};
  if (!reader.band_colors().empty()) {
    const char* name = reader.band_colors()[size_t(band - 1)].c_str();
    return EQUAL(name, "Grey") ? GCI_GrayIndex : GDALGetColorInterpretationByName(name);
  }
  switch (reader.color_scheme()) {
    case vexal::ColorScheme::kGray: return band == 1 ? GCI_GrayIndex : GCI_Undefined;
    case vexal::ColorScheme::kRGB: return band <= 3 ? rgb[band - 1] : GCI_Undefined;
    case vexal::ColorScheme::kCMYK: return band <= 4 ? cmyk[band - 1] : GCI_Undefined;
    case vexal::ColorScheme::kUnknown: break;
  }
  return GCI_Undefined;
}

// GDAL splits "NAME=VALUE" and "NAME:VALUE" at the first '=' or ':' and trims blanks, so a
// record's name ("IMAGE::EOM") becomes a key of the "VXL" domain with "." in place of "::"
// ("IMAGE.EOM") and "_" in place of any character but letters, digits, '_', '-' and '.'.
std::string metadata_key(const char* record) {
  std::string key;
  for (const char* c = record; *c; ++c) {
    if (c[0] == ':' && c[1] == ':') {
      key += '.';
      ++c;
    } else {
      const bool plain = std::isalnum(static_cast<unsigned char>(*c)) || std::strchr("_-.", *c);
      key += plain ? *c : '_';
    }
  }
  return key;
}

// Virtual paths (/vsicurl/, /vsizip/, /vsimem/, ...) through GDAL's file systems; plain local
// files through the library's own positioned reads, because GDAL's local files go through stdio,
// whose buffer refills around every range a window reads.
std::shared_ptr<vexal::ByteSource> source_for(GDALOpenInfo* info) {
  if (!STARTS_WITH(info->pszFilename, "/vsi")) return vexal::open_file_source(info->pszFilename);
  VSILFILE* file = info->fpL ? info->fpL : VSIFOpenL(info->pszFilename, "rb");
  if (!file) throw vexal::Error(std::string("Error opening file ") + info->pszFilename + " for read.");
  info->fpL = nullptr;
  return std::make_shared<VSISource>(file, info->pszFilename);
}

}  // namespace

VXLDataset::VXLDataset(std::shared_ptr<vexal::Reader> reader, int level)
    : reader_(std::move(reader)), level_(level) {
  nRasterXSize = reader_->level_width(level);
  nRasterYSize = reader_->level_height(level);
  const GDALDataType type = gdal_type_of(reader_->sample_type());
  for (int b = 1; b <= reader_->bands(); ++b)
    SetBand(b, new VXLRasterBand(this, b, type, kBlockSize));
  if (level > 0) nPamFlags |= GPF_DISABLED;  // overviews keep no .aux.xml of their own
  // Every band of a window decodes at once (the colour transform couples them): copies read them
  // together. Not through PAM, which would save it to an .aux.xml.
  if (nBands > 1) GDALMajorObject::SetMetadataItem("INTERLEAVE", "PIXEL", "IMAGE_STRUCTURE");
  if (level == 0) {
    for (int k = 1; k <= reader_->levels(); ++k)
      overviews_.push_back(std::unique_ptr<VXLDataset>(new VXLDataset(reader_, k)));
    for (const vexal::MetadataRecord& r : reader_->metadata())
      vxl_metadata_.SetNameValue(metadata_key(r.key.c_str()).c_str(), r.value.c_str());
    LoadSpatialRef();
  }
}

VXLDataset::~VXLDataset() { FlushCache(true); }

int VXLDataset::Identify(GDALOpenInfo* info) {
  // "vexl" and the version bytes 1 0 1.
  static const unsigned char magic[7] = {'v', 'e', 'x', 'l', 1, 0, 1};
  return info->nHeaderBytes >= 7 && std::memcmp(info->pabyHeader, magic, 7) == 0;
}

GDALDataset* VXLDataset::Open(GDALOpenInfo* info) {
  if (!Identify(info)) return nullptr;
  // The decoder's threads, as GDAL's other drivers take theirs; once, before the first read.
  static std::once_flag threads;
  std::call_once(threads, [] {
    const char* n = CPLGetConfigOption("GDAL_NUM_THREADS", "ALL_CPUS");
    vexal::set_read_threads(EQUAL(n, "ALL_CPUS") ? CPLGetNumCPUs() : std::max(1, atoi(n)));
  });
  if (info->eAccess == GA_Update) {
    CPLError(CE_Failure, CPLE_NotSupported, "The VXL driver only reads .vxl files.");
    return nullptr;
  }
  std::shared_ptr<vexal::Reader> reader;
  try {
    reader = std::make_shared<vexal::Reader>(source_for(info), info->pszFilename);
    reader->set_cache_limit(size_t(std::max(0, atoi(CPLGetConfigOption("VXL_CACHE_MB", "32"))))
                            << 20);
  } catch (const std::exception& e) {
    CPLError(CE_Failure, CPLE_OpenFailed, "%s", e.what());
    return nullptr;
  }
  auto* dataset = new VXLDataset(std::move(reader), 0);
  dataset->SetDescription(info->pszFilename);
  dataset->TryLoadXML();
  return dataset;
}

void VXLDataset::LoadSpatialRef() {
  srs_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  std::vector<unsigned char> tiff = reader_->georeferencing_as_geotiff();
  if (tiff.empty() || reader_->georeferencing()->keys.empty()) return;
  // GDAL's own GeoTIFF reading turns the keys into the same system as for the source file.
  const CPLString name = CPLSPrintf("/vsimem/vxl_georeferencing_%p.tif", this);
  VSIFCloseL(VSIFileFromMemBuffer(name, tiff.data(), vsi_l_offset(tiff.size()), FALSE));
  const char* const drivers[] = {"GTiff", nullptr};
  GDALDatasetH tif = GDALOpenEx(name, GDAL_OF_RASTER | GDAL_OF_INTERNAL, drivers, nullptr, nullptr);
  if (tif) {
    if (const OGRSpatialReference* srs = GDALDataset::FromHandle(tif)->GetSpatialRef()) {
      srs_ = *srs;
      srs_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    }
    GDALClose(tif);
  }
  VSIUnlink(name);
}

CPLErr VXLDataset::GetGeoTransform(double* t) {
  const std::optional<vexal::Georeferencing>& g = reader_->georeferencing();
  if (!g || level_ != 0) return GDALPamDataset::GetGeoTransform(t);
  t[0] = g->origin_x;
  t[1] = g->pixel_width;
  t[2] = 0;
  t[3] = g->origin_y;
  t[4] = 0;
  t[5] = -g->pixel_height;
  return CE_None;
}

const OGRSpatialReference* VXLDataset::GetSpatialRef() const {
  return srs_.IsEmpty() ? GDALPamDataset::GetSpatialRef() : &srs_;
}

char** VXLDataset::GetMetadataDomainList() {
  return BuildMetadataDomainList(GDALPamDataset::GetMetadataDomainList(), TRUE, "VXL", nullptr);
}

char** VXLDataset::GetMetadata(const char* domain) {
  if (domain && EQUAL(domain, "VXL")) return vxl_metadata_.List();
  return GDALPamDataset::GetMetadata(domain);
}

const char* VXLDataset::GetMetadataItem(const char* name, const char* domain) {
  // The record's own name finds it too.
  if (domain && EQUAL(domain, "VXL"))
    return name ? vxl_metadata_.FetchNameValue(metadata_key(name).c_str()) : nullptr;
  return GDALPamDataset::GetMetadataItem(name, domain);
}

VXLRasterBand::VXLRasterBand(VXLDataset* dataset, int band, GDALDataType type, int block_size) {
  poDS = dataset;
  nBand = band;
  eDataType = type;
  nBlockXSize = block_size;
  nBlockYSize = block_size;
  // A band whose name GDAL has no interpretation for (near infrared, say) shows the name as its
  // description; set directly, so that it is not saved to an .aux.xml as a change.
  const vexal::Reader& reader = *dataset->reader_;
  if (!reader.band_colors().empty() && color_of(reader, band) == GCI_Undefined &&
      !EQUAL(reader.band_colors()[size_t(band - 1)].c_str(), "Undefined"))
    sDescription = reader.band_colors()[size_t(band - 1)];
  // GDAL's GetStatistics, GetMinimum and GetMaximum answer from these items; set directly, so
  // that they are not saved to an .aux.xml as a change. Overviews show the full image's.
  if (const vexal::BandStatistics* s = Recorded()) {
    const std::pair<const char*, double> items[] = {
        {"STATISTICS_MINIMUM", s->minimum}, {"STATISTICS_MAXIMUM", s->maximum},
        {"STATISTICS_MEAN", s->mean}, {"STATISTICS_STDDEV", s->stddev},
        {"STATISTICS_VALID_PERCENT", s->valid_percent}};
    for (const auto& [name, value] : items)
      GDALMajorObject::SetMetadataItem(name, CPLSPrintf("%.17g", value));
  }
}

const vexal::BandStatistics* VXLRasterBand::Recorded() const {
  const auto& statistics = static_cast<VXLDataset*>(poDS)->reader_->statistics();
  return statistics ? &(*statistics)[size_t(nBand - 1)] : nullptr;
}

CPLErr VXLRasterBand::ComputeStatistics(int approx_ok, double* min, double* max, double* mean,
                                        double* stddev, GDALProgressFunc progress,
                                        void* progress_data) {
  const vexal::BandStatistics* s = Recorded();
  if (!s)
    return GDALPamRasterBand::ComputeStatistics(approx_ok, min, max, mean, stddev, progress,
                                                progress_data);
  if (progress && !progress(1.0, nullptr, progress_data)) {
    CPLError(CE_Failure, CPLE_UserInterrupt, "User terminated");
    return CE_Failure;
  }
  if (min) *min = s->minimum;
  if (max) *max = s->maximum;
  if (mean) *mean = s->mean;
  if (stddev) *stddev = s->stddev;
  return CE_None;
}

CPLErr VXLRasterBand::ComputeRasterMinMax(int approx_ok, double* min_max) {
  const vexal::BandStatistics* s = Recorded();
  if (!s) return GDALPamRasterBand::ComputeRasterMinMax(approx_ok, min_max);
  min_max[0] = s->minimum;
  min_max[1] = s->maximum;
  return CE_None;
}

const vexal::Histogram* VXLRasterBand::RecordedHistogram() const {
  const auto& histograms = static_cast<VXLDataset*>(poDS)->reader_->histograms();
  return histograms && eDataType == GDT_Byte ? &(*histograms)[size_t(nBand - 1)] : nullptr;
}

CPLErr VXLRasterBand::GetHistogram(double min, double max, int buckets, GUIntBig* histogram,
                                   int include_out_of_range, int approx_ok,
                                   GDALProgressFunc progress, void* progress_data) {
  const vexal::Histogram* counts = RecordedHistogram();
  if (!counts || !histogram ||
      !recorded_histogram(*counts, min, max, buckets, include_out_of_range, histogram))
    return GDALPamRasterBand::GetHistogram(min, max, buckets, histogram, include_out_of_range,
                                           approx_ok, progress, progress_data);
  if (progress && !progress(1.0, nullptr, progress_data)) {
    CPLError(CE_Failure, CPLE_UserInterrupt, "User terminated");
    return CE_Failure;
  }
  return CE_None;
}

CPLErr VXLRasterBand::GetDefaultHistogram(double* min, double* max, int* buckets,
                                          GUIntBig** histogram, int force,
                                          GDALProgressFunc progress, void* progress_data) {
  if (!RecordedHistogram())
    return GDALPamRasterBand::GetDefaultHistogram(min, max, buckets, histogram, force, progress,
                                                  progress_data);
  if (GDALPamRasterBand::GetDefaultHistogram(min, max, buckets, histogram, FALSE, progress,
                                             progress_data) == CE_None)
    return CE_None;  // one saved beside the file
  constexpr int kBuckets = 256;
  auto* counts = static_cast<GUIntBig*>(VSI_MALLOC2_VERBOSE(sizeof(GUIntBig), kBuckets));
  if (!counts) return CE_Failure;
  const CPLErr result =
      GetHistogram(-0.5, 255.5, kBuckets, counts, FALSE, TRUE, progress, progress_data);
  if (result != CE_None) {
    CPLFree(counts);
    return result;
  }
  *min = -0.5;
  *max = 255.5;
  *buckets = kBuckets;
  *histogram = counts;
  return CE_None;
}

CPLErr VXLRasterBand::IReadBlock(int bx, int by, void* image) {
  return static_cast<VXLDataset*>(poDS)->CacheBlocks(bx, by, bx, by, nBand, image);
}

GDALColorInterp VXLRasterBand::GetColorInterpretation() {
  return color_of(*static_cast<VXLDataset*>(poDS)->reader_, nBand);
}

// GDAL derives the nodata mask (GetMaskBand) from this, for the overviews too.
double VXLRasterBand::GetNoDataValue(int* success) {
  const std::optional<double> nodata = static_cast<VXLDataset*>(poDS)->reader_->nodata();
  if (!nodata) return GDALPamRasterBand::GetNoDataValue(success);
  if (success) *success = TRUE;
  return *nodata;
}

int VXLRasterBand::GetOverviewCount() {
  const auto* ds = static_cast<VXLDataset*>(poDS);
  return ds->level_ == 0 ? int(ds->overviews_.size()) : 0;
}

GDALRasterBand* VXLRasterBand::GetOverview(int index) {
  auto* ds = static_cast<VXLDataset*>(poDS);
  if (ds->level_ != 0 || index < 0 || index >= int(ds->overviews_.size())) return nullptr;
  return ds->overviews_[size_t(index)]->GetRasterBand(nBand);
}
