// A decoded rectangle with every band, turned back into the source's samples: the colour
// transform undone for integer colour sources, CMYK planes of TIFF sources turned back into the
// four inks, 8-bit and 16-bit samples rounded and clamped.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decoder/region_decoder.h"
#include "decoder/vxl_file.h"

struct DecodedImage {
  int width = 0, height = 0, bands = 0;
  int data_type = 0;      // the source's: 0 8-bit, 1 float, 2 16-bit
  int color_scheme = -1;  // as stored in the file
  // Planar samples in the source's type: bytes, 16-bit or floats.
  std::vector<uint8_t> u8;
  std::vector<uint16_t> u16;
  std::vector<float> f32;
};

class RecordCache;

DecodedImage decode_image(const VxlFile& file, int level, const Window& window);

// Decodes every band of `window` at `level` into `out`, band after band, each row after row,
// in the source's sample type (IMAGE::DATA_TYPE: bytes, floats or 16-bit words).
// What each band is when the bands were coded separately (GDAL colour names, from
// "IMAGE::BAND_COLORS"), else empty.
std::vector<std::string> band_colors_of(const MetadataList& list);
// 16-bit samples that are signed ("IMAGE::SAMPLE_FORMAT" 2): decoded as int16_t.
bool signed_samples(const MetadataList& list);
// The source's nodata value ("IMAGE::NODATA"); decoding puts it back on the pixels of
// "IMAGE::NODATA_MASK".
std::optional<double> nodata_of(const MetadataList& list);

// Band b starts `band_stride` samples after band a - 1 (0: right after it).
void decode_samples(const VxlFile& file, int level, const Window& window, RecordCache* cache,
                    void* out, size_t band_stride = 0);

// Inverts the encoder's RGB to Y/I/Q transform on three planes of n samples.
void inverse_yiq(float* y, float* i, float* q, size_t n);

// Reads a LONG record of the file's metadata, or `fallback` when it is absent.
int32_t metadata_long(const MetadataList& list, const char* key, int32_t fallback);
