#include "encoder/driver/written_file_check.h"

#include <filesystem>
#include <string>

#include "decoder/vxl_file.h"
#include "platform/error.h"

void check_written_file(const Quorvale::FileSpecification& output, const WrittenShape& shape) {
  if (output.is_uninitialized()) return;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(output.str(), ec)) return;
  std::string what;
  try {
    const VxlFile file(output.str());
    if (file.width() != shape.width || file.height() != shape.height ||
        file.bands() != shape.bands || file.levels() != shape.levels)
      what = "it holds " + std::to_string(file.width()) + " x " + std::to_string(file.height()) +
             " pixels, " + std::to_string(file.bands()) + " band(s) and " +
             std::to_string(file.levels()) + " levels instead of " + std::to_string(shape.width) +
             " x " + std::to_string(shape.height) + ", " + std::to_string(shape.bands) + " and " +
             std::to_string(shape.levels);
  } catch (const std::exception& e) {
    // The reader's message begins with the file's name, which this one gives first.
    what = e.what();
    if (what.rfind(output.str() + ": ", 0) == 0) what.erase(0, output.str().size() + 2);
    if (what.ends_with('.')) what.pop_back();
  }
  if (!what.empty())
    throw Error(format_message("Error: %s as written does not read back (%s); it was removed.",
                               output.path(), what.c_str()));
}
