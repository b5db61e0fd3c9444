#include "vxl_create_copy.h"

#include <cpl_string.h>
#include <cpl_vsi.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "vexal/writer.h"
#include "vxl_dataset.h"

const char* const kVxlCreationOptions =
    "<CreationOptionList>"
    "<Option name='NLEV' type='int' min='1' max='9' default='4' description='Resolution levels "
    "below the full size'/>"
    "<Option name='RATIO' type='float' default='20' description='Compression ratio against 8 "
    "bits per sample'/>"
    "<Option name='RDO' type='boolean' default='NO' description='Rate-distortion optimised "
    "coding'/>"
    "<Option name='PSNR' type='float' description='With RDO=YES: the luma PSNR in dB to encode "
    "for, instead of RATIO'/>"
    "<Option name='BLOCKSIZE' type='int' default='512' description='Side of the blocks the "
    "image is transformed in'/>"
    "<Option name='NUM_THREADS' type='string' default='ALL_CPUS' description='Worker threads: "
    "a number or ALL_CPUS'/>"
    "<Option name='WEIGHT' type='float' default='4' description='Intensity weight of the "
    "perceptual weighting'/>"
    "<Option name='GAMMA' type='float' default='2' description='Gamma of the perceptual "
    "weighting'/>"
    "<Option name='DITHER' type='boolean' default='YES' description='Dithered quantisation'/>"
    "<Option name='NODATA' type='boolean' default='YES' description='Keep the source nodata "
    "value: those pixels read back exactly and stay transparent'/>"
    "<Option name='TEMP_DIR' type='string' description='Folder for temporary files'/>"
    "<Option name='STATISTICS' type='boolean' default='NO' description='Record the "
    "minimum, maximum, mean and standard deviation of each band, which GDAL then reports "
    "without reading pixels'/>"
    "</CreationOptionList>";

namespace {

// A creation option's number, or an error naming it.
std::optional<double> number_option(char** options, const char* name) {
  const char* text = CSLFetchNameValue(options, name);
  if (!text) return std::nullopt;
  char* end = nullptr;
  const double value = CPLStrtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(value))
    throw vexal::Error(std::string("VXL: the creation option ") + name + "=" + text +
                       " is not a number.");
  return value;
}

int whole_option(char** options, const char* name, int fallback) {
  const std::optional<double> value = number_option(options, name);
  if (!value) return fallback;
  if (*value != std::trunc(*value) || std::fabs(*value) > 1e9)
    throw vexal::Error(std::string("VXL: the creation option ") + name +
                       " needs a whole number.");
  return int(*value);
}

vexal::EncodeSettings settings_of(char** options) {
  vexal::EncodeSettings s;
  s.levels = whole_option(options, "NLEV", s.levels);
  s.ratio = number_option(options, "RATIO").value_or(s.ratio);
  s.rdo = CPLTestBool(CSLFetchNameValueDef(options, "RDO", "NO"));
  s.psnr = number_option(options, "PSNR").value_or(0.0);
  s.block_size = whole_option(options, "BLOCKSIZE", s.block_size);
  const char* threads = CSLFetchNameValueDef(options, "NUM_THREADS", "ALL_CPUS");
  if (!EQUAL(threads, "ALL_CPUS")) {
    s.threads = whole_option(options, "NUM_THREADS", 0);
    if (s.threads < 1)
      throw vexal::Error("VXL: NUM_THREADS must be a positive number or ALL_CPUS.");
  }
  s.weight = number_option(options, "WEIGHT");
  s.gamma = number_option(options, "GAMMA");
  s.dither = CPLTestBool(CSLFetchNameValueDef(options, "DITHER", "YES"));
  s.temp_dir = CSLFetchNameValueDef(options, "TEMP_DIR", "");
  s.statistics = CPLTestBool(CSLFetchNameValueDef(options, "STATISTICS", "NO"));
  return s;
}

vexal::SampleType sample_type_of(GDALDataType type, const char* name) {
  switch (type) {
    case GDT_Byte: return vexal::SampleType::kUInt8;
    case GDT_UInt16: return vexal::SampleType::kUInt16;
    case GDT_Int16: return vexal::SampleType::kInt16;
    case GDT_Float32: return vexal::SampleType::kFloat32;
    default: break;
  }
  throw vexal::Error(std::string("VXL: ") + name + " has " + GDALGetDataTypeName(type) +
                     " samples; .vxl files hold Byte, UInt16, Int16 and Float32. Convert them "
                     "first, e.g. with gdal_translate -ot Float32 (or -ot Int16 -scale).");
}

// GDAL's own GeoTIFF writing turns the geotransform and coordinate system into GeoTIFF keys,
// exactly as a GeoTIFF of the source would carry them; the encoding API reads them back.
std::optional<vexal::Georeferencing> georeferencing_of(GDALDataset& source, const char* name) {
  double t[6];
  if (source.GetGeoTransform(t) != CE_None) return std::nullopt;
  VXLCheckGeoTransform(t, name);
  GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!gtiff) throw vexal::Error("VXL: GDAL's GTiff driver is needed to write georeferencing.");
  const CPLString tif_name = CPLSPrintf("/vsimem/vxl_create_copy_%p.tif", &source);
  GDALDataset* tif = gtiff->Create(tif_name, 1, 1, 1, GDT_Byte, nullptr);
  if (!tif)
    throw vexal::Error("VXL: could not write the georeferencing of " + std::string(name) + ".");
  tif->SetGeoTransform(t);
  if (const OGRSpatialReference* srs = source.GetSpatialRef()) tif->SetSpatialRef(srs);
  GDALClose(tif);
  vsi_l_offset size = 0;
  const GByte* bytes = VSIGetMemFileBuffer(tif_name, &size, FALSE);
  const std::vector<std::uint8_t> copy(bytes, bytes + (bytes ? size : 0));
  VSIUnlink(tif_name);
  return vexal::georeferencing_from_geotiff(copy);
}

vexal::PixelSource pixel_source(GDALDataset& source, const char* name, bool keep_nodata) {
  vexal::PixelSource s;
  s.name = name;
  s.width = source.GetRasterXSize();
  s.height = source.GetRasterYSize();
  s.bands = source.GetRasterCount();
  if (s.bands < 1) throw vexal::Error(std::string("VXL: ") + name + " has no raster bands.");
  GDALRasterBand* first = source.GetRasterBand(1);
  const GDALDataType type = first->GetRasterDataType();
  s.sample_type = sample_type_of(type, name);
  for (int b = 1; b <= s.bands; ++b) {
    GDALRasterBand* band = source.GetRasterBand(b);
    if (band->GetRasterDataType() != type)
      throw vexal::Error(std::string("VXL: the bands of ") + name +
                         " have different sample types; a .vxl file holds one.");
    if (band->GetColorTable())
      throw vexal::Error(std::string("VXL: ") + name +
                         " has a colour table, which .vxl files do not keep; expand it first "
                         "with gdal_translate -expand rgb.");
    s.band_colors.push_back(GDALGetColorInterpretationName(band->GetColorInterpretation()));
  }
  int has_nodata = FALSE;
  const double nodata = first->GetNoDataValue(&has_nodata);
  if (keep_nodata && has_nodata) s.nodata = nodata;
  s.georeferencing = georeferencing_of(source, name);
  s.read = [&source, type](int x0, int y0, int x1, int y1, void* buffer) {
    const int w = x1 - x0 + 1, h = y1 - y0 + 1;
    return source.RasterIO(GF_Read, x0, y0, w, h, buffer, w, h, type, source.GetRasterCount(),
                           nullptr, 0, 0, 0, nullptr) == CE_None;
  };
  return s;
}

}  // namespace

void VXLCheckTarget(const char* filename, char** options) {
  if (STARTS_WITH(filename, "/vsi"))
    throw vexal::Error(std::string("VXL: ") + filename +
                       ": .vxl files are written to local files only.");
  settings_of(options);
}

void VXLCheckGeoTransform(const double* t, const char* name) {
  if (t[2] != 0 || t[4] != 0)
    throw vexal::Error(std::string("VXL: ") + name +
                       " has a rotated or sheared geotransform, which .vxl files cannot hold; "
                       "warp it first with gdalwarp.");
}

void VXLCheckSampleType(GDALDataType type, const char* name) { sample_type_of(type, name); }

void VXLCheckEncodable(GDALDataset& source, const char* name, const char* filename,
                       char** options) {
  // The encoder refuses what it cannot code before it asks for a pixel: a source that fails
  // its first read has passed every check.
  vexal::PixelSource s = pixel_source(source, name, false);
  bool asked = false;
  s.read = [&asked](int, int, int, int, void*) { return !(asked = true); };
  try {
    vexal::encode(s, filename, settings_of(options));
  } catch (const vexal::Error&) {
    if (!asked) throw;
  }
}

bool VXLEncode(GDALDataset& source, const char* name, const char* filename, char** options,
               GDALProgressFunc progress, void* progress_data) {
  if (!progress) progress = GDALDummyProgress;
  bool cancelled = false;
  try {
    VXLCheckTarget(filename, options);
    vexal::EncodeSettings settings = settings_of(options);
    settings.progress = [&](double fraction) {
      cancelled = !progress(fraction, nullptr, progress_data);
      return !cancelled;
    };
    const bool keep_nodata = CPLTestBool(CSLFetchNameValueDef(options, "NODATA", "YES"));
    vexal::encode(pixel_source(source, name, keep_nodata), filename, settings);
  } catch (const std::exception& e) {
    CPLError(CE_Failure, cancelled ? CPLE_UserInterrupt : CPLE_AppDefined, "%s", e.what());
    return false;
  }
  return true;
}

GDALDataset* VXLCreateCopy(const char* filename, GDALDataset* source, int /*strict*/,
                           char** options, GDALProgressFunc progress, void* progress_data) {
  if (!VXLEncode(*source, source->GetDescription(), filename, options, progress, progress_data))
    return nullptr;
  GDALOpenInfo info(filename, GA_ReadOnly);
  return VXLDataset::Open(&info);
}
