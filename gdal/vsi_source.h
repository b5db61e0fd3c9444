// A .vxl file read through GDAL's virtual file systems (/vsicurl/, /vsis3/, /vsizip/, /vsimem/,
// ...), so that the reading library fetches only what a view needs wherever the file lives.
#pragma once

#include <cpl_vsi.h>

#include <memory>
#include <mutex>
#include <string>

#include "vexal/byte_source.h"

class VSISource final : public vexal::ByteSource {
 public:
  // Takes over `file` (closed with the source); `name` for messages.
  VSISource(VSILFILE* file, std::string name);
  ~VSISource() override;

  std::uint64_t size() const override { return size_; }
  void read(std::uint64_t offset, void* buffer, std::size_t length) override;
  // One multi-range request where the file system offers it (HTTP, object stores).
  void read_ranges(const Range* ranges, std::size_t count) override;

 private:
  VSILFILE* file_;
  std::string name_;
  std::uint64_t size_ = 0;
  std::mutex mutex_;  // a VSILFILE has one position: one read at a time
};
