#include "image/mosaic_tile.h"

#include "image/bbb_image.h"
#include "image/doq_image.h"
#include "image/lan_image.h"
#include "image/rfi_image.h"
#include "image/sun_rast_image.h"
#include "image/tif_geo_image.h"
#include "image/tiff_image.h"
#include "image/tifw_image.h"
#include "platform/error.h"

bool mosaic_tile_has_origin(const std::string& tile_type) {
  return tile_type == "TIF" || tile_type == "RAST" || tile_type == "RFI";
}

std::unique_ptr<ImageFile> create_mosaic_tile(const std::string& tile_type,
                                              const Quorvale::FileSpecification& file, int x,
                                              int y, const uint8_t* no_data,
                                              const uint8_t* transparent) {
  if (tile_type == "TIF")
    return std::make_unique<TIFFImage>(file, x, y, no_data, transparent);
  if (tile_type == "TFW") return std::make_unique<TIFWImage>(file, no_data, transparent);
  if (tile_type == "TFG") return std::make_unique<TIFGeoImage>(file, no_data, transparent);
  if (tile_type == "DOQ") return std::make_unique<DOQImage>(file, no_data, transparent);
  if (tile_type == "BBB") return std::make_unique<BBBImage>(file, no_data, transparent);
  if (tile_type == "LAN")
    return std::make_unique<LANImage>(file, 0, 0, no_data, transparent);
  if (tile_type == "RFI") return std::make_unique<RFIImage>(file, x, y);
  if (tile_type == "RAST")
    return std::make_unique<SunRastImage>(file, x, y, no_data, transparent);
  throw Error(format_message("Error: unknown image type \"%s\"", tile_type.c_str()));
}
