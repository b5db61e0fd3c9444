// Equal-slope choice of one quantiser step per subband and band for the whole image: each
// subband's squared coefficient error is weighted by how much of it reaches the decoded pixels
// (the synthesis gain of its filters, and for colour images the inverse colour transform), and
// the steps minimise the weighted error for the bytes asked for, or the bytes for a luma error.
#pragma once

#include <vector>

#include "encoder/core/rd_model.h"

struct RdTarget {
  double bytes = 0.0;      // coded bytes to spend (the file's fixed parts left out), or
  double luma_psnr = 0.0;  // when > 0: a peak signal-to-noise ratio of band 0 in dB
};

struct RdWeights {
  int nlev = 4;
  bool colour = false;  // bands 0..2 hold the colour transform of RGB
  // Perceptual weighting as in the default mode, only when asked for: band 0 by `weight`,
  // depth d by gamma^d (applied to the tolerated error, so squared in the distortion).
  bool perceptual = false;
  float weight = 1.0f, gamma = 1.0f;
};

struct RdChoice {
  std::vector<float> steps;  // subband * bands + band; 0: not coded
  // Per subband and band: the squared coefficient error one coded byte is worth at the
  // chosen slope, for the choice of indices.
  std::vector<double> error_per_byte;
  std::vector<double> term_bytes;  // estimated coded bytes of each subband and band
  double bytes = 0.0;        // estimated coded bytes
  double luma_mse = 0.0;     // estimated mean squared error of band 0 per pixel
  double rgb_mse = 0.0;      // over the pixel's bands, in their own units
};

// Energy that a unit error of one coefficient of subband k puts into the decoded image.
double synthesis_gain(int k, int nlev);
// Energy in R, G and B that a unit error of band b of the colour transform puts there.
double colour_gain(int band);

RdChoice choose_steps(const RdModel& model, const RdWeights& weights, const RdTarget& target,
                      double pixels);
