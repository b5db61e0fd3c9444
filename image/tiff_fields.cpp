#include "image/tiff_fields.h"

#include <algorithm>
#include <climits>

#include "image/image.h"
#include "platform/error.h"

namespace {

struct CompressionName {
  uint16_t code;
  const char* word;
};

constexpr CompressionName kCompressionNames[] = {
    {1, ""},
    {2, "Cmpr_RLE "},
    {3, "Cmpr_FAX3 "},
    {4, "Cmpr_FAX4 "},
    {5, "Cmpr_LZW "},
    {6, "Cmpr_OJPEG "},
    {7, "Cmpr_JPEG "},
    {32766, "Cmpr_NeXT "},
    {32771, "Cmpr_RLEW "},
    {32773, "Cmpr_PKB "},
    {32809, "Cmpr_TSCAN "},
    {32908, "Cmpr_PixarF "},
    {32909, "Cmpr_PixarL "},
    {32946, "Cmpr_Dflt "},
    {32947, "Cmpr_DCS "},
    {34661, "Cmpr_JBIG "},
};

// Pixel size from a resolution tag: 1 / value, 1.0 when the tag is absent or 0.
bool read_pixel_size(TIFF* tif, uint32_t tag, float* size) {
  float value = 0.0f;
  if (!TIFFGetField(tif, tag, &value)) return false;
  *size = value != 0.0f ? 1.0f / value : 1.0f;
  return true;
}

void read_size(TIFF* tif, TiffFields& f, const std::string& file) {
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &f.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &f.length);
  // Widths and heights are ints everywhere downstream.
  if (f.width == 0 || f.length == 0 || f.width > INT_MAX || f.length > INT_MAX)
    throw Error(format_message("Error: the file %s has an unusable image size of %u x %u.",
                               file.c_str(), f.width, f.length));
}

void check_layout(TIFF* tif, TiffFields& f, const std::string& file) {
  uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar);
  f.planar = planar == PLANARCONFIG_SEPARATE;
  // Separate YCbCr planes are subsampled apart, and libtiff converts to RGB only
  // interleaved pixels.
  if (planar != PLANARCONFIG_CONTIG && (!f.planar || f.photometric == PHOTOMETRIC_YCBCR))
    throw Error(format_message(
        "Error: the file %s is a non-supported planar configuration type of %d.\n"
        "Please convert image to Baseline TIFF and recompress.",
        file.c_str(), planar));
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &f.bits_per_sample);
  TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &f.sample_format);
  // A missing or "void" sample format is unsigned.
  if (f.sample_format == SAMPLEFORMAT_VOID) f.sample_format = SAMPLEFORMAT_UINT;
  const uint16_t bits = f.bits_per_sample, format = f.sample_format;
  const bool usable = ((bits == 1 || bits == 8) && format == SAMPLEFORMAT_UINT) ||
                      (bits == 16 && (format == SAMPLEFORMAT_UINT || format == SAMPLEFORMAT_INT)) ||
                      (bits == 32 && format == SAMPLEFORMAT_IEEEFP);
  if (!usable)
    throw Error(
        "Error: this program can only read 1 and 8 bit-per-sample TIFF images, 16-bit integer "
        "and 32-bit floating point ones.");
  if (bits > 8 && (f.photometric == PHOTOMETRIC_PALETTE || f.photometric == PHOTOMETRIC_YCBCR ||
                   (f.photometric == PHOTOMETRIC_MINISWHITE && format != SAMPLEFORMAT_UINT)))
    throw Error(format_message(
        "Error: the file %s has %d-bit samples with a photometric interpretation (%d) this "
        "program reads only for 8-bit samples.",
        file.c_str(), bits, f.photometric));
  if (f.photometric == PHOTOMETRIC_SEPARATED) TIFFGetField(tif, TIFFTAG_INKSET, &f.ink_set);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &f.samples_per_pixel);
  if (f.samples_per_pixel == 0 || f.samples_per_pixel > kMaxBands)
    throw Error(format_message("Error: the file %s has %d samples per pixel; this program reads "
                               "1 to %d.",
                               file.c_str(), f.samples_per_pixel, kMaxBands));
}

// GDAL's names for what the bands of a TIFF are: the photometric interpretation's colours
// first, then alpha for associated or unassociated extra samples, undefined for the rest.
std::vector<std::string> band_colors_of(TIFF* tif, const TiffFields& f) {
  std::vector<std::string> colors;
  if (f.photometric == PHOTOMETRIC_RGB && f.samples_per_pixel >= 3)
    colors = {"Red", "Green", "Blue"};
  else if (f.photometric == PHOTOMETRIC_SEPARATED && f.samples_per_pixel >= 4 &&
           f.ink_set == INKSET_CMYK)
    colors = {"Cyan", "Magenta", "Yellow", "Black"};
  else if (f.photometric == PHOTOMETRIC_MINISBLACK || f.photometric == PHOTOMETRIC_MINISWHITE)
    colors = {"Gray"};
  uint16_t count = 0;
  uint16_t* kinds = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds)) count = 0;
  const size_t first_extra = f.samples_per_pixel >= count ? f.samples_per_pixel - count : 0;
  colors.resize(std::min<size_t>(colors.size(), first_extra));
  while (colors.size() < first_extra) colors.emplace_back("Undefined");
  for (uint16_t k = 0; k < count && colors.size() < f.samples_per_pixel; ++k)
    colors.emplace_back(kinds[k] == EXTRASAMPLE_ASSOCALPHA || kinds[k] == EXTRASAMPLE_UNASSALPHA
                            ? "Alpha"
                            : "Undefined");
  return colors;
}

// YCbCr samples are stored subsampled; only the JPEG codec can hand them over as RGB.
void ask_for_rgb(TIFF* tif, const TiffFields& f, const std::string& file) {
  if (f.photometric != PHOTOMETRIC_YCBCR) return;
  if (f.compression != COMPRESSION_JPEG || f.bits_per_sample != 8 ||
      !TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB))
    throw Error(format_message(
        "Error: the file %s holds YCbCr samples without JPEG compression, which this program "
        "cannot read.",
        file.c_str()));
}

void read_color_map(TIFF* tif, TiffFields& f, const std::string& file) {
  uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue)) throw ReadError(file);
  f.color_map.assign(768, 0);
  // libtiff holds 2^bits entries: 2 for bilevel palettes, 256 for 8-bit ones.
  int entries = 1 << f.bits_per_sample;
  for (int i = 0; i < entries; ++i) {
    f.color_map[i] = static_cast<uint8_t>(red[i] >> 8);
    f.color_map[256 + i] = static_cast<uint8_t>(green[i] >> 8);
    f.color_map[512 + i] = static_cast<uint8_t>(blue[i] >> 8);
  }
}

bool is_grey_map(const std::vector<uint8_t>& map) {
  for (int i = 0; i < 256; ++i)
    if (map[i] != map[256 + i] || map[i] != map[512 + i]) return false;
  return true;
}

void read_bands(TIFF* tif, TiffFields& f, const std::string& file) {
  uint32_t value = 0;
  if (TIFFGetField(tif, TIFFTAG_TILEWIDTH, &value)) f.tile_width = static_cast<int32_t>(value);
  if (TIFFGetField(tif, TIFFTAG_TILELENGTH, &value)) f.tile_length = static_cast<int32_t>(value);
  f.tiled = TIFFIsTiled(tif) != 0;
  f.nband = f.samples_per_pixel;
  if (f.photometric == PHOTOMETRIC_PALETTE) {
    read_color_map(tif, f, file);
    f.nband = is_grey_map(f.color_map) ? 1 : 3;
    if (f.nband == 3) {
      f.name += "CLUT ";
      f.palette_size3 = 768;
    }
  }
  if (f.nband == 1)
    f.color_scheme = kSchemeGray;
  else if (f.nband == 3)
    f.color_scheme = kSchemeRGB;
  else if (f.nband == 4 && f.photometric == PHOTOMETRIC_SEPARATED && f.ink_set == INKSET_CMYK)
    f.color_scheme = kSchemeCMYK;
  else {
    f.separate_bands = true;
    f.band_colors = band_colors_of(tif, f);
  }
}

}  // namespace

const char* compression_word(uint16_t compression) {
  for (const auto& entry : kCompressionNames)
    if (entry.code == compression) return entry.word;
  return "Cmpr_Unknown";
}

TiffFields read_tiff_fields(TIFF* tif, const std::string& file) {
  TiffFields f;
  read_size(tif, f, file);
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &f.compression);
  f.name += compression_word(f.compression);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &f.photometric);
  TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &f.rows_per_strip);
  TIFFGetField(tif, TIFFTAG_FILLORDER, &f.fill_order);
  f.has_x_resolution = read_pixel_size(tif, TIFFTAG_XRESOLUTION, &f.x_pixel_size);
  f.has_y_resolution = read_pixel_size(tif, TIFFTAG_YRESOLUTION, &f.y_pixel_size);
  TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &f.resolution_unit);
  check_layout(tif, f, file);
  ask_for_rgb(tif, f, file);
  read_bands(tif, f, file);
  return f;
}
