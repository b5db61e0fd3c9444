// An image made of a formula, for round trips: any size, 1 to 4 bands, 8-bit, 16-bit or float
// samples, optionally georeferenced. Sample values are smooth with some texture, so every
// subband carries energy.
#pragma once

#include <vector>

#include "image/image.h"

class SyntheticImage : public ImageFile {
 public:
  SyntheticImage(int width, int height, int bands, int data_type, int color_scheme,
                 bool georeferenced = false);

  // The exact source sample of band b at (x, y), as a double.
  double sample(int band, int x, int y) const;

  void print_parameters() override {}
  using Image::extract;
  void extract(int section[2][2], unsigned char* pixels) override;
  void extract(int section[2][2], uint16_t* pixels) override;
  void extract(int section[2][2], float* pixels) override;
  double file_size() override;
  double xcoord() override { return 440720.0; }
  double ycoord() override { return 3751320.0; }
  double xscale() override { return 60.0; }
  double yscale() override { return -60.0; }
  bool is_georeferenced() override { return georeferenced_; }

 private:
  template <typename T>
  void fill(int section[2][2], T* pixels) const;

  bool georeferenced_;
};
