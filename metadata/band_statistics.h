// Each band's statistics over the source's pixels: the content of the record
// "IMAGE::STATISTICS" (DOUBLE, five values a band, band after band: minimum, maximum, mean,
// population standard deviation, percentage of the image's pixels counted), so that a viewer
// can stretch the image without reading its pixels.
#pragma once

#include <optional>
#include <vector>

#include "metadata/metadata.h"

inline constexpr const char* kStatisticsKey = "IMAGE::STATISTICS";

struct BandStatistics {
  double minimum = 0, maximum = 0, mean = 0, stddev = 0;
  double valid_percent = 100;  // samples counted (not nodata, finite) per 100 pixels
};

// Adds the record; returns what metadata_add returns.
int add_statistics_record(MetadataList* list, const std::vector<BandStatistics>& bands);
// The record of `list`, if it has one. Throws Error when it is not five numbers for each of the
// `bands` or its numbers cannot be statistics (not finite, minimum above maximum, mean outside
// them, negative deviation, percentage outside 0..100).
std::optional<std::vector<BandStatistics>> read_statistics_record(const MetadataList& list,
                                                                  int bands);
