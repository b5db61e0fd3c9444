#include "platform/version_resource.h"

#include <algorithm>
#include <cctype>

#include "platform/java_release_file.h"

namespace Quorvale {

std::optional<std::array<uint16_t, 4>> product_version_numbers(const std::string& text) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return std::nullopt;
  std::array<uint16_t, 4> numbers{};
  size_t part = 0;
  uint32_t value = 0;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      value = std::min<uint32_t>(value * 10 + static_cast<uint32_t>(c - '0'), 65535);
      continue;
    }
    if (c != '.' && c != '_') break;
    numbers[part] = static_cast<uint16_t>(value);
    value = 0;
    if (++part == numbers.size()) return numbers;
  }
  numbers[part] = static_cast<uint16_t>(value);
  return numbers;
}

std::optional<VersionResource> read_version_resource(const std::string& file) {
  const std::string installation = java_installation_of(file);
  if (installation.empty()) return std::nullopt;
  const auto fields = read_java_release_file(installation);
  if (!fields) return std::nullopt;
  const auto version = fields->find("JAVA_VERSION");
  if (version == fields->end()) return std::nullopt;
  const auto numbers = product_version_numbers(version->second);
  if (!numbers) return std::nullopt;
  VersionResource resource;
  resource.product = *numbers;
  if (const auto maker = fields->find("IMPLEMENTOR"); maker != fields->end())
    resource.company = maker->second;
  return resource;
}

}  // namespace Quorvale
