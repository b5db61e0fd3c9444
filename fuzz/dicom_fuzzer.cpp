// libFuzzer entry point for the DICOMImage reader: header checks and pixel reads of hostile files.
#include <memory>

#include "encoder/image/dicom_image.h"
#include "reader_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz_input_file(data, size);
  fuzz_reader([&] { return std::make_unique<DICOMImage>(path); });
  return 0;
}
