// Several image files of one format presented as one Image: a text list names the tiles, each
// is opened with its format's reader and placed by the origin on its line or by its
// georeferencing; tiles are read in list order into one buffer, so later tiles cover earlier
// ones except where their pixels equal their transparent colour.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "image/image.h"

class ImageMosaic : public Image {
 public:
  // tile_type is the list's tile type word ("TIF", "RAST", "RFI", "TFW", "TFG", "DOQ", "BBB",
  // "LAN"); no_data and transparent go to every tile's reader (either may be null).
  ImageMosaic(const Quorvale::FileSpecification& list_file, const std::string& tile_type,
              const uint8_t* no_data = nullptr, const uint8_t* transparent = nullptr);
  ~ImageMosaic() override;

  void print_parameters() override;
  using Image::extract;
  void extract(int section_support[2][2], unsigned char* pixels) override;
  void extract(int section_support[2][2], float* pixels) override;
  void extract(int section_support[2][2], uint16_t* pixels) override;
  void extract(int section_support[2][2], int16_t* pixels) override;
  std::optional<double> source_nodata() override;
  void use_nodata() override;
  double file_size() override;
  double xcoord() override;
  double ycoord() override;
  double xscale() override;
  double yscale() override;
  bool is_georeferenced() override;
  const uint8_t* no_data_value() override;
  const uint8_t* transparent_value() override;
  void write_header_file(const Quorvale::FileSpecification& file) override;
  void add_metadata(MetadataList* list) override;
  void set_temp_directory(const Quorvale::FileSpecification* folder) override;
  // Closes the tiles outside `section`; afterwards only the pixel, header-text and metadata
  // calls may be used (the georeferencing and no-data answers come from the first tile).
  void keep_only(const int section[2][2]) override;

  int tile_count() const { return static_cast<int>(tiles_.size()); }
  ImageFile& tile(int i) { return *tiles_[static_cast<size_t>(i)]; }

 protected:
  // For mosaics whose tiles are found another way (image databases); at least one tile.
  explicit ImageMosaic(std::vector<std::unique_ptr<ImageFile>> tiles);

 private:
  // Places, checks and describes the tiles once they are all open.
  void assemble();
  void place_tiles();
  void check_tiles();
  void build_metadata();
  void add_common_lut();

  std::vector<std::unique_ptr<ImageFile>> tiles_;
};

// Reads a mosaic list file and opens its tiles, in list order.
std::vector<std::unique_ptr<ImageFile>> read_mosaic_list(
    const Quorvale::FileSpecification& list_file, const std::string& tile_type,
    const uint8_t* no_data, const uint8_t* transparent);
