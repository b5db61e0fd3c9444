// The source abstraction: every input the encoder compresses is an Image that knows its size,
// bands, sample type and colour scheme, carries metadata records, and delivers any rectangular
// section of its pixels on request. ImageFile is the base of every image backed by one file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "image/pixel_data.h"
#include "metadata/image_codes.h"
#include "metadata/metadata.h"
#include "platform/file_specification.h"

// A section: [0][0] first column, [0][1] last column, [1][0] first row, [1][1] last row,
// all inclusive, in the image's coordinate space.
using SectionSupport = int[2][2];

class Image {
 public:
  Image();
  virtual ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  virtual void print_parameters() = 0;
  virtual void extract(int section_support[2][2], uint16_t* pixels);
  virtual void extract(int section_support[2][2], float* pixels);
  // Signed 16-bit samples (data_type kImage16Bit with signed_samples set).
  virtual void extract(int section_support[2][2], int16_t* pixels);
  virtual void extract(int section_support[2][2], unsigned char* pixels) = 0;
  virtual double file_size() = 0;
  virtual double xcoord() = 0;
  virtual double ycoord() = 0;
  virtual double xscale() = 0;
  virtual double yscale() = 0;
  virtual bool is_georeferenced() = 0;
  virtual int lut_size() { return 0; }
  virtual const uint8_t* lut() { return nullptr; }
  virtual const uint8_t* no_data_value() = 0;
  virtual const uint8_t* transparent_value() = 0;
  virtual bool full_width_blocks() { return full_width_blocks_; }
  virtual void write_header_file(const Quorvale::FileSpecification&) {}
  virtual void add_metadata(MetadataList*) {}
  virtual void set_full_width_blocks(bool on) { full_width_blocks_ = on; }
  // Folder for any temporary file the reader needs (null: the system's); it must outlive the
  // image. Readers that need none ignore it.
  virtual void set_temp_directory(const Quorvale::FileSpecification* /*folder*/) {}
  // Only `section` will be extracted from now on: images made of many files may close the
  // ones it does not touch. Size, placement and georeferencing stay those of the whole.
  virtual void keep_only(const int /*section*/[2][2]) {}

  // Cuts a section out of the image as a new pixel block owned by the caller.
  std::unique_ptr<PixelData> extract(int section_support[2][2]);
  // Bands the encoder codes: four-band images that are not CMYK lose their fourth band, unless
  // the bands are coded separately.
  int coded_bands() const;
  // The nodata value the source declares (a GeoTIFF's GDAL_NODATA tag), if any.
  virtual std::optional<double> source_nodata() { return std::nullopt; }
  // Honours the source's nodata value, if it has one: sets `nodata` and records it as
  // "IMAGE::NODATA". Readers call it for the inputs that were refused before nodata was
  // honoured; for the others the encoder's -nodata option does. Images made of other images
  // pass it on, so that each tile leaves what lies below its own nodata pixels.
  virtual void use_nodata();
  // Writes the world file (extension "vxw") beside `output` when the image is georeferenced.
  void write_world_file(const Quorvale::FileSpecification& output);

  int nband = 0;
  int image_width = 0;
  int image_height = 0;
  int data_type = kImage8Bit;
  int color_scheme = kSchemeUnknown;
  // 16-bit samples are signed (written as the record IMAGE::SAMPLE_FORMAT).
  bool signed_samples = false;
  // Bands that are not grey, RGB or CMYK (2 bands, more than 4, RGB with alpha or infrared):
  // every band is kept and coded on its own, without the colour transform and with equal
  // weights. Set by readers only for band layouts they refused before.
  bool separate_bands = false;
  // The nodata value the encoder honours (fills those areas smoothly and records them); set by
  // use_nodata().
  std::optional<double> nodata;
  MetadataList metadata;

 protected:
  bool full_width_blocks_ = false;

 private:
  template <typename T>
  void fill_uncovered(T* buffer, int64_t count) const;
};

// How samples lie in a raw file, for ImageFile::extract_raw.
enum class BandOrder { Grayscale, RGB, BGR, XRGB, XBGR, RGB_BIL, BGRX_BIL, RGB_BSQ, CMYK_BSQ };
// The band-structure word of the system ("GRAYSCALE", "RGB", ...) to its enum; throws Error
// "Error: unknown band order encountered in subroutine extract_rgb." for any other word.
BandOrder band_order_from_word(const std::string& word);

class ImageFile : public Image {
 public:
  // The file's pixels start at (x_origin, y_origin) in the image's coordinate space.
  ImageFile(const Quorvale::FileSpecification& file, int x_origin, int y_origin,
            const uint8_t* no_data = nullptr, const uint8_t* transparent = nullptr);
  ~ImageFile() override;

  double file_size() override;
  double xcoord() override;
  double ycoord() override;
  double xscale() override;
  double yscale() override;
  const uint8_t* no_data_value() override { return no_data_; }
  const uint8_t* transparent_value() override {
    return has_transparent_ ? transparent_ : nullptr;
  }
  // Recomputes support from the georeferencing (mosaics).
  virtual void place_by_georeference() {}
  // Throws when this file and `other` cannot be mosaicked.
  virtual void check_compatible(ImageFile& /*other*/) {}
  // With a stream: writes a text description of the source header. Without: answers whether
  // the class can.
  virtual bool write_header_text(FILE* /*stream*/, const char* /*name*/) { return false; }

  // Stores the common records into this image's metadata, in the order of the file format.
  void add_image_metadata();

  // Reads the overlap of `section` with this file's support from an uncompressed file.
  // sample_size is 1, 2 or 4; out is the planar buffer of the whole section.
  void extract_raw(int section_support[2][2], void* out, int sample_size, int file_width,
                   int file_height, int bands, int64_t header_bytes, BandOrder order,
                   int64_t row_stride = 0, const uint8_t* transparent = nullptr);

  const Quorvale::FileSpecification& file() const { return file_; }

  // Inclusive rectangle of this file's pixels in the image's coordinate space.
  int support[2][2] = {{0, -1}, {0, -1}};

 protected:
  // Sets support from the origin and the image size (call after image_width/height are known).
  void set_support_from_size();

  Quorvale::FileSpecification file_;
  int x_origin_ = 0;
  int y_origin_ = 0;
  uint8_t no_data_[3] = {0, 0, 0};
  uint8_t transparent_[3] = {0, 0, 0};
  bool has_transparent_ = false;
};

// True when two inclusive sections overlap.
bool sections_intersect(const int a[2][2], const int b[2][2]);
