// Version resources of executables. Windows keeps a product version a.b.c.d and a company name
// inside every executable; on POSIX they come from the `release` file of the Java installation
// that holds the file (JAVA_VERSION, IMPLEMENTOR).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace Quorvale {

struct VersionResource {
  std::array<uint16_t, 4> product{};  // a.b.c.d; missing parts are 0
  std::string company;
};

// Nothing when the file carries no version resource (no installation, no readable version).
std::optional<VersionResource> read_version_resource(const std::string& file);

// The four numbers of a version text such as "17.0.15" or "1.8.0_392": decimal parts split at
// "." and "_", read up to the first other character, each at most 65535. Nothing when the
// text does not start with a digit.
std::optional<std::array<uint16_t, 4>> product_version_numbers(const std::string& text);

}  // namespace Quorvale
