// Raw 8-bit rasters interleaved by line (BIL), by pixel (BIP) or band-sequential (BSQ), one or
// three bands, described by a plain-text header beside them (same name, extension "hdr").
#pragma once

#include "image/image.h"

class BBBImage : public ImageFile {
 public:
  enum Layout { kLayoutUnknown = -1, kLayoutBIL = 0, kLayoutBSQ = 1, kLayoutBIP = 2 };

  struct Header {
    int word_length = 1;
    int dynamic_range_window = -1;  // -1: none
    int dynamic_range_level = 127;
    int bandgapbytes = 0;
    int bandrowbytes = -1;  // defaults to ncols
    int nbands = -1;
    int nbits = 8;
    int ncols = -1;
    int nrows = -1;
    int totalrowbytes = -1;  // defaults to nbands x ncols
    int skipbytes = 0;
    double ulxmap = 0.0;
    double ulymap = 0.0;
    double xdim = 1.0;
    double ydim = 1.0;
    int layout = kLayoutUnknown;
  };

  BBBImage(const Quorvale::FileSpecification& file, const uint8_t* no_data = nullptr,
           const uint8_t* transparent = nullptr);

  void print_parameters() override;
  using Image::extract;
  void extract(int section_support[2][2], unsigned char* pixels) override;
  double xcoord() override { return header_.ulxmap; }
  double ycoord() override { return header_.ulymap; }
  double xscale() override { return header_.xdim; }
  double yscale() override { return -header_.ydim; }
  bool is_georeferenced() override { return true; }
  void place_by_georeference() override;
  void check_compatible(ImageFile& other) override;

  const Header& header() const { return header_; }

 private:
  void add_reader_metadata();
  void check_file_size();

  Header header_;
};

// Reads the header file named `header_file`; throws the reader's errors for bad values.
BBBImage::Header read_bbb_header(const Quorvale::FileSpecification& header_file);
