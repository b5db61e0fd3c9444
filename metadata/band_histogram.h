// Each 8-bit band's exact histogram over the source's pixels: the content of the record
// "IMAGE::HISTOGRAM" (DOUBLE, 256 counts a band, band after band, the count of value k at k),
// written beside the statistics record so that a viewer's histogram stretch sees the source's
// samples, not a reduced level's.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "metadata/band_statistics.h"
#include "metadata/metadata.h"

inline constexpr const char* kHistogramKey = "IMAGE::HISTOGRAM";

using BandHistogram = std::array<uint64_t, 256>;

// Adds the record; returns what metadata_add returns.
int add_histogram_record(MetadataList* list, const std::vector<BandHistogram>& bands);
// The record of `list`, if it has one. Throws Error when it is not 256 whole, non-negative
// counts for each of the `bands`, or when a band's counts disagree with its `statistics`
// (the file's statistics record, which must be there) over an image of `pixels` pixels: total
// against the valid percentage, lowest and highest value present against minimum and maximum.
std::optional<std::vector<BandHistogram>> read_histogram_record(
    const MetadataList& list, int bands,
    const std::optional<std::vector<BandStatistics>>& statistics, double pixels);
