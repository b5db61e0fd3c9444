#include "launcher/launcher_error.h"

namespace kst {

std::string launcher_string(int id) {
  switch (id) {
    case kNoValidVm:
      return "Could not find a valid Java virtual machine to load.\n\n"
             "You may need to reinstall a supported Java virtual machine.";
    case kPropertiesMissing:
      return "The Kestrun properties file is missing";
    case kVmStartFailed:
      return "Windows error %d occured while loading the Java VM";
    case kInvalidProperties:
      return "The Plenset properties file contains invalid information";
    case kErrorTitle:
      return "Kestrun Error";
    default:
      return "";
  }
}

}  // namespace kst
