#include "support/scratch_dir.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace vexal_test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vexal_test_XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create scratch folder");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace vexal_test
