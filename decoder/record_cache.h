// Decoded records kept for reads nearby. Neighbouring windows need the same coarse records
// (every window reaches down to the smallest level, and the synthesis filters reach past a
// window's edges), so a reader that walks a large image window by window would otherwise decode
// those records again and again. Safe to use from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/uninitialized_allocator.h"

class RecordCache {
 public:
  using Values = std::shared_ptr<const platform::FloatBuffer>;

  explicit RecordCache(size_t limit_bytes = size_t(32) << 20) : limit_(limit_bytes) {}

  // Dequantised coefficients of record `record` of block `block`, or null.
  Values find(int subband, int band, size_t block, size_t record);
  bool contains(int subband, int band, size_t block, size_t record) const;
  void insert(int subband, int band, size_t block, size_t record, Values values);

  // Drops the least recently used records until at most `bytes` are held.
  void set_limit(size_t bytes);
  size_t bytes() const;
  // Records decoded into the cache so far (a measure of work for tests and benchmarks).
  uint64_t insertions() const;

 private:
  struct Key {
    int subband, band;
    size_t block, record;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return std::hash<uint64_t>()((uint64_t(k.subband) << 56) ^ (uint64_t(k.band) << 48) ^
                                   (uint64_t(k.block) << 28) ^ uint64_t(k.record));
    }
  };
  struct Entry {
    Key key;
    Values values;
  };
  void trim();

  mutable std::mutex mutex_;
  size_t limit_;
  size_t bytes_ = 0;
  uint64_t insertions_ = 0;
  std::list<Entry> order_;  // most recently used first
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> records_;
};
