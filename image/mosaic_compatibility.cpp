#include "image/mosaic_compatibility.h"

#include "platform/error.h"

namespace {

[[noreturn]] void incompatible(ImageFile& mine, ImageFile& other, const char* what) {
  throw Error(format_message("File incompatibility: files %s and %s have %s.", mine.file().path(),
                             other.file().path(), what));
}

}  // namespace

void check_same_band_count(ImageFile& mine, ImageFile& other) {
  if (other.nband != mine.nband) incompatible(mine, other, "a different number of spectral bands");
}

void check_same_resolution(ImageFile& mine, ImageFile& other) {
  if (!same_pixel_size(other.xscale(), mine.xscale()))
    incompatible(mine, other, "different x-resolutions");
  if (!same_pixel_size(other.yscale(), mine.yscale()))
    incompatible(mine, other, "different y-resolutions");
}
