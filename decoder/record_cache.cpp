#include "decoder/record_cache.h"

namespace {

size_t bytes_of(const RecordCache::Values& v) { return v->size() * sizeof(float) + 64; }

}  // namespace

RecordCache::Values RecordCache::find(int subband, int band, size_t block, size_t record) {
  const auto it = records_.find(Key{subband, band, block, record});
  if (it == records_.end()) return nullptr;
  order_.splice(order_.begin(), order_, it->second);
  return it->second->values;
}

void RecordCache::insert(int subband, int band, size_t block, size_t record, Values values) {
  ++insertions_;
  const Key key = Key{subband, band, block, record};
  if (records_.count(key) || bytes_of(values) > limit_) return;
  bytes_ += bytes_of(values);
  order_.push_front(Entry{key, std::move(values)});
  records_[key] = order_.begin();
  trim();
}

std::shared_ptr<const BandPart> RecordCache::find_part(int subband, int band, size_t block) const {
  const auto it = parts_.find(Key{subband, band, block, 0});
  return it == parts_.end() ? nullptr : it->second;
}

void RecordCache::insert_part(int subband, int band, size_t block,
                              std::shared_ptr<const BandPart> part) {
  parts_[Key{subband, band, block, 0}] = std::move(part);
}

void RecordCache::set_limit(size_t bytes) {
  limit_ = bytes;
  trim();
}

void RecordCache::trim() {
  while (bytes_ > limit_ && !order_.empty()) {
    bytes_ -= bytes_of(order_.back().values);
    records_.erase(order_.back().key);
    order_.pop_back();
  }
}
