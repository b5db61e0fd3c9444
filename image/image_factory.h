// The reader factory: turns an input type word and file name into the Image that reads it.
#pragma once

#include <cstdint>
#include <memory>

#include "image/image.h"
#include "platform/file_specification.h"

// background becomes the reader's no-data value and transparent its transparent value (each
// 3 bytes or null). Error "Error: unrecognized image type \"%s\" during image creation." for
// an unknown word; a reader's own failure passes through.
std::unique_ptr<Image> create_image(const Quorvale::FileSpecification& file, const char* type_word,
                                    const uint8_t* background, const uint8_t* transparent);
