// The reader behind each tile type word of a mosaic list.
#pragma once

#include <memory>
#include <string>

#include "image/image.h"

// True for the tile type words whose list lines carry an x and y origin after the name.
bool mosaic_tile_has_origin(const std::string& tile_type);

// Opens one tile. Throws Error "Error: unknown image type \"%s\"" for an unknown word.
std::unique_ptr<ImageFile> create_mosaic_tile(const std::string& tile_type,
                                              const Quorvale::FileSpecification& file, int x,
                                              int y, const uint8_t* no_data,
                                              const uint8_t* transparent);
