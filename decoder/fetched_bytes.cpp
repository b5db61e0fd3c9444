#include "decoder/fetched_bytes.h"

#include <algorithm>

void FetchedBytes::fetch(vexal::ByteSource& source, std::vector<ByteRange> ranges, uint64_t gap) {
  std::erase_if(ranges, [](const ByteRange& r) { return r.end <= r.offset; });
  if (ranges.empty()) return;
  std::sort(ranges.begin(), ranges.end(),
            [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
  std::vector<ByteRange> merged{ranges.front()};
  for (const ByteRange& r : ranges) {
    if (r.offset <= merged.back().end + gap) merged.back().end = std::max(merged.back().end, r.end);
    else merged.push_back(r);
  }
  std::vector<std::vector<uint8_t>> buffers(merged.size());
  std::vector<vexal::ByteSource::Range> requests(merged.size());
  for (size_t i = 0; i < merged.size(); ++i) {
    buffers[i].resize(size_t(merged[i].end - merged[i].offset));
    requests[i] = {merged[i].offset, buffers[i].size(), buffers[i].data()};
  }
  source.read_ranges(requests.data(), requests.size());
  for (size_t i = 0; i < merged.size(); ++i) {
    bytes_ += buffers[i].size();
    longest_ = std::max<uint64_t>(longest_, buffers[i].size());
    pieces_[merged[i].offset] = std::move(buffers[i]);
  }
}

std::span<const uint8_t> FetchedBytes::find(uint64_t offset, uint64_t length) const {
  // Pieces of separate batches may overlap: look back through every piece long enough to
  // reach `offset`.
  for (auto it = pieces_.upper_bound(offset); it != pieces_.begin();) {
    --it;
    if (it->first + longest_ <= offset) break;
    const uint64_t into = offset - it->first;
    if (into <= it->second.size() && length <= it->second.size() - into)
      return {it->second.data() + into, size_t(length)};
  }
  return {};
}
