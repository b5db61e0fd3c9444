// What vexal's own programs need of a vexal::Reader beyond the public API: the open file with
// its tables and metadata list (for -info and for writing GeoTIFF keys), so that a program opens
// and checks the file once.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "decoder/record_cache.h"
#include "decoder/vxl_file.h"
#include "vexal/reader.h"

namespace vexal {

struct Reader::Impl {
  Impl(std::shared_ptr<ByteSource> source, const std::string& name)
      : file(std::move(source), name) {}
  VxlFile file;
  std::mutex turns;  // one read (or cache change) at a time
  RecordCache cache;
  SampleType sample_type = SampleType::kUInt8;
  ColorScheme color_scheme = ColorScheme::kUnknown;
  std::vector<std::string> band_colors;
  std::optional<double> nodata;
  std::optional<std::vector<BandStatistics>> statistics;
  std::optional<Georeferencing> georeferencing;
  std::vector<MetadataRecord> metadata;
};

struct ReaderAccess {
  static const VxlFile& file(const Reader& reader);
};

}  // namespace vexal
