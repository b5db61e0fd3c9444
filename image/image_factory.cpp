#include "image/image_factory.h"

#include <cstring>

#include "image/bbb_image.h"
#include "image/dicom_image.h"
#include "image/doq_image.h"
#include "image/idb_image.h"
#include "image/image_mosaic.h"
#include "image/jpeg_image.h"
#include "image/lan_image.h"
#include "image/rfi_image.h"
#include "image/sun_rast_image.h"
#include "image/tif_geo_image.h"
#include "image/tiff_image.h"
#include "image/tifw_image.h"
#include "platform/error.h"

namespace {

using Quorvale::FileSpecification;
using Maker = std::unique_ptr<Image> (*)(const FileSpecification& file, const uint8_t* background,
                                         const uint8_t* transparent);

struct ImageType {
  const char* word;  // compared exactly, case-sensitive; the first match decides
  Maker make;
};

// One line per reader; a new reader joins by adding its word here.
const ImageType kImageTypes[] = {
    {"TIFF", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<TIFFImage>(f, 0, 0, b, t);
     }},
    {"RAST", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<SunRastImage>(f, 0, 0, b, t);
     }},
    {"TIFW", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<TIFWImage>(f, b, t);
     }},
    {"TIFG", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<TIFGeoImage>(f, b, t);
     }},
    {"JPEG", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<JpegImage>(f, b, t);
     }},
    {"DOQ", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<DOQImage>(f, b, t);
     }},
    {"BBB", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<BBBImage>(f, b, t);
     }},
    {"LAN", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<LANImage>(f, 0, 0, b, t);
     }},
    {"RFI", [](const FileSpecification& f, const uint8_t*, const uint8_t*) -> std::unique_ptr<Image> {
       return std::make_unique<RFIImage>(f, 0, 0);
     }},
    {"DICOM", [](const FileSpecification& f, const uint8_t*, const uint8_t*) -> std::unique_ptr<Image> {
       return std::make_unique<DICOMImage>(f);
     }},
    {"IDB", [](const FileSpecification& f, const uint8_t*, const uint8_t*) -> std::unique_ptr<Image> {
       return std::make_unique<IDBImage>(f);
     }},
    {"TIFF_MOSAIC", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<ImageMosaic>(f, "TIF", b, t);
     }},
    {"TIFW_MOSAIC", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<ImageMosaic>(f, "TFW", b, t);
     }},
    {"TIFG_MOSAIC", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<ImageMosaic>(f, "TFG", b, t);
     }},
    {"DOQ_MOSAIC", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<ImageMosaic>(f, "DOQ", b, t);
     }},
    {"BBB_MOSAIC", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<ImageMosaic>(f, "BBB", b, t);
     }},
    {"LAN_MOSAIC", [](const FileSpecification& f, const uint8_t* b, const uint8_t* t) -> std::unique_ptr<Image> {
       return std::make_unique<ImageMosaic>(f, "LAN", b, t);
     }},
    {"RFI_MOSAIC", [](const FileSpecification& f, const uint8_t*, const uint8_t*) -> std::unique_ptr<Image> {
       return std::make_unique<ImageMosaic>(f, "RFI", nullptr, nullptr);
     }},
};

}  // namespace

std::unique_ptr<Image> create_image(const FileSpecification& file, const char* type_word,
                                    const uint8_t* background, const uint8_t* transparent) {
  const char* word = type_word ? type_word : "";
  for (const ImageType& type : kImageTypes)
    if (std::strcmp(type.word, word) == 0) return type.make(file, background, transparent);
  throw Error(format_message("Error: unrecognized image type \"%s\" during image creation.", word));
}
