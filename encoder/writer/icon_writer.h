// The reduced-resolution rebuild: the coded low-pass subband of a coding pass, dequantised and
// with its dither taken out, written as an RFI raw float image for a second, deeper pass.
#pragma once

#include "encoder/core/subband_map.h"
#include "platform/file_specification.h"

void output_icon(const Quorvale::FileSpecification& icon, SubbandMap& map, int width, int height,
                 int levels, int bands, bool dither);
