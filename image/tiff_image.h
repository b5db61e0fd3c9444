// Plain TIFF input (type word "TIFF", option -tif): 1- and 8-bit grey, RGB, palette and
// separated CMYK images, 16-bit (signed or not) and 32-bit float images, and images of any other
// band count (coded band by band), in strips or tiles, any compression libtiff decodes. Also the base of
// the GeoTIFF and world-file readers, which add georeferencing only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "image/image.h"
#include "image/tiff_fields.h"

class TiffSampleReader;

class TIFFImage : public ImageFile {
 public:
  TIFFImage(const Quorvale::FileSpecification& file, int x_origin, int y_origin,
            const uint8_t* no_data = nullptr, const uint8_t* transparent = nullptr);
  ~TIFFImage() override;

  void print_parameters() override;
  using Image::extract;
  void extract(int section_support[2][2], unsigned char* pixels) override;
  void extract(int section_support[2][2], uint16_t* pixels) override;
  void extract(int section_support[2][2], int16_t* pixels) override;
  void extract(int section_support[2][2], float* pixels) override;
  bool is_georeferenced() override { return false; }
  int lut_size() override { return fields_.palette_size3 / 3; }
  const uint8_t* lut() override;
  void add_metadata(MetadataList* list) override;
  void check_compatible(ImageFile& other) override;
  std::optional<double> source_nodata() override { return source_nodata_; }
  // Warns, once, of a GDAL_NODATA no sample of the image can hold, which is left out.
  void use_nodata() override;

  int bits_per_sample() const { return fields_.bits_per_sample; }
  // The compression word(s) and "CLUT " for colour palettes.
  const std::string& name() const { return fields_.name; }
  // Where compressed images are decoded to when they are too large for memory (null: the
  // system's temporary folder). The folder must outlive the image.
  void set_temp_directory(const Quorvale::FileSpecification* temp_dir) override;
  // Strips or tiles decoded so far; each is decoded at most once over the image's life.
  uint64_t units_decoded() const;
  // Bytes decoded from compressed strips and tiles plus bytes read in place.
  uint64_t bytes_decoded() const;

 protected:
  // Prints the TIFF part of the parameter dump, without flushing.
  void print_tiff_parameters();
  const TiffFields& fields() const { return fields_; }

 private:
  void read_directory();
  void add_resolution_records();
  std::optional<std::string> read_gdal_nodata() const;
  // Where a section meets the file: rows y0 .. y1 of the section's space, n columns from x0
  // (col0 in the file); at(y) is the offset of that row's first pixel in the section's planes.
  struct SectionOverlap {
    int top, x0, y0, y1, section_x0, section_y0;
    uint32_t col0, n;
    int64_t out_width, plane;
    int64_t at(int y) const { return (int64_t{y} - section_y0) * out_width + (x0 - section_x0); }
  };
  std::optional<SectionOverlap> overlap(const int section[2][2]) const;
  // 16-bit and float samples: one row run at a time into the band planes.
  template <typename T>
  void extract_samples(int section_support[2][2], T* pixels);
  // Maps one row run of file samples to output pixels of nband bytes each.
  void normalise(const uint8_t* samples, uint32_t n, uint8_t* pixels) const;
  // `skip`: one flag per pixel, set for the pixels that leave what lies below; may be null.
  void place(const uint8_t* pixels, uint32_t n, uint8_t* out, int64_t plane_size,
             const uint8_t* skip) const;

  TiffFields fields_;
  std::optional<double> source_nodata_;  // GDAL_NODATA
  std::optional<std::string> unusable_nodata_;  // its text, when no sample can hold it
  std::unique_ptr<TiffSampleReader> reader_;
};
