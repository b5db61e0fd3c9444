// The one-dimensional biorthogonal 9/7 wavelet (Cohen-Daubechies-Feauveau) by lifting, on
// single-precision samples, shared by the encoder's analysis and the decoder's synthesis.
//
// A line covers the global positions start .. start + count - 1 of its level. Even global
// positions carry the low band and odd ones the high band, so a line that starts on an odd
// position starts with a high-pass sample. Both directions work in place: the analysis leaves
// the low outputs on the even and the high outputs on the odd positions, the synthesis takes
// them from there.
//
// Each end of a line is either an image edge, where the signal continues by whole-sample
// symmetry (x(-k) = x(k), x(L + k) = x(L - k)), or a cut inside the image, where the signal
// counts as zero beyond the line. A zero end is exact for the analysis of a block whose samples
// are followed by four zero positions in the line (the reach of the 9-tap filter).
#pragma once

#include <cstddef>

enum class LineEnd { kZero, kSymmetric };

// Lifting constants; the low and high outputs are scaled by kLift97Low and kLift97High.
inline constexpr float kLift97Alpha = 1.586134f;
inline constexpr float kLift97Beta = 0.05298f;
inline constexpr float kLift97Gamma = 0.882911f;
inline constexpr float kLift97Delta = 0.443507f;
inline constexpr float kLift97Low = 1.149604f;
inline constexpr float kLift97High = 0.86986476f;

// One line of contiguous samples. `count` must be at least 1; a symmetric end needs at least
// 2 samples to mirror (callers that follow the block-size rules always have more).
void lift97_forward(float* line, int start, int count, LineEnd near, LineEnd far);
void lift97_inverse(float* line, int start, int count, LineEnd near, LineEnd far);

// The same with the two bands apart: `low` holds the samples at the even global positions of
// the line in order ((count + 1) / 2 of them for an even start), `high` those at the odd ones.
// The results equal the interleaved form's bit for bit; the decomposition and a decoder that
// keeps its subbands apart avoid the interleaving.
void lift97_forward_split(float* low, float* high, int start, int count, LineEnd near, LineEnd far);
void lift97_inverse_split(float* low, float* high, int start, int count, LineEnd near, LineEnd far);

// `lanes` lines side by side: sample i of lane j is data[i * stride + j], with stride >= lanes.
// Used for the vertical passes, where each row of a block holds one sample of every column.
void lift97_forward_lanes(float* data, int start, int count, std::ptrdiff_t stride, int lanes,
                          LineEnd near, LineEnd far);
void lift97_inverse_lanes(float* data, int start, int count, std::ptrdiff_t stride, int lanes,
                          LineEnd near, LineEnd far);
