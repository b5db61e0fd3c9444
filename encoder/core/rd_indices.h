// Rate-distortion choice of quantiser indices within what the decoder reads: after the plain
// quantiser of the rate-distortion mode, indices are lowered by one or made zero (small ones,
// alone or several in a row, joining the zero runs around them) where the bits that saves,
// priced at the allocation's slope, are worth more than the squared error it adds. The
// reconstruction rule is the decoder's.
#pragma once

#include <cstdint>
#include <functional>

// What the choice changed: the bits of the indices before and after (estimated from their
// symbol counts, as a Huffman code fitted to them would spend) and the squared error added.
struct RdIndexEffect {
  double bits_before = 0.0, bits_after = 0.0, added_error = 0.0;
  double coefficients = 0.0;  // tried
};

// `error_per_byte`: squared coefficient error that one coded byte is worth in this subband and
// band (the allocation's slope over the subband's error weight). Values and indices are the
// band's w x h row-major plane, cut into the writer's records and coded in their scan order;
// `indices` holds the plain quantiser's choice and is changed in place.
void rd_choose_indices(const float* values, int w, int h, float step, double error_per_byte,
                       int16_t* indices);

// What the choice does to the pieces (numbered in the writer's order) that `take` accepts,
// coded as one part, from the plain quantiser's indices on.
RdIndexEffect rd_index_effect(const float* values, int w, int h, float step,
                              double error_per_byte, const std::function<bool(size_t)>& take);
