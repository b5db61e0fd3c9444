#include "decoder/record_cache.h"

namespace {

size_t bytes_of(const RecordCache::Values& v) { return v->size() * sizeof(float) + 64; }

}  // namespace

RecordCache::Values RecordCache::find(int subband, int band, size_t block, size_t record) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = records_.find(Key{subband, band, block, record});
  if (it == records_.end()) return nullptr;
  order_.splice(order_.begin(), order_, it->second);
  return it->second->values;
}

bool RecordCache::contains(int subband, int band, size_t block, size_t record) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_.count(Key{subband, band, block, record}) > 0;
}

void RecordCache::insert(int subband, int band, size_t block, size_t record, Values values) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++insertions_;
  const Key key = Key{subband, band, block, record};
  if (records_.count(key) || bytes_of(values) > limit_) return;
  bytes_ += bytes_of(values);
  order_.push_front(Entry{key, std::move(values)});
  records_[key] = order_.begin();
  trim();
}

void RecordCache::set_limit(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  limit_ = bytes;
  trim();
}

size_t RecordCache::bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

uint64_t RecordCache::insertions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return insertions_;
}

void RecordCache::trim() {
  while (bytes_ > limit_ && !order_.empty()) {
    bytes_ -= bytes_of(order_.back().values);
    records_.erase(order_.back().key);
    order_.pop_back();
  }
}
