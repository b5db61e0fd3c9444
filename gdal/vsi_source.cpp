#include "vsi_source.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The reading library puts the file's name in front.
std::string failed(std::uint64_t offset, std::size_t length) {
  return "read of " + std::to_string(length) + " bytes at offset " + std::to_string(offset) +
         " failed";
}

}  // namespace

VSISource::VSISource(VSILFILE* file, std::string name) : file_(file), name_(std::move(name)) {
  if (VSIFSeekL(file_, 0, SEEK_END) == 0) size_ = VSIFTellL(file_);
}

VSISource::~VSISource() { VSIFCloseL(file_); }

void VSISource::read(std::uint64_t offset, void* buffer, std::size_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (VSIFSeekL(file_, vsi_l_offset(offset), SEEK_SET) != 0 ||
      VSIFReadL(buffer, 1, length, file_) != length)
    throw std::runtime_error(failed(offset, length));
}

void VSISource::read_ranges(const Range* ranges, std::size_t count) {
  if (count < 2) {
    ByteSource::read_ranges(ranges, count);
    return;
  }
  std::vector<void*> buffers(count);
  std::vector<vsi_l_offset> offsets(count);
  std::vector<size_t> sizes(count);
  for (std::size_t i = 0; i < count; ++i) {
    buffers[i] = ranges[i].buffer;
    offsets[i] = ranges[i].offset;
    sizes[i] = ranges[i].length;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  // GDAL reads the ranges one by one itself where the file system has no multi-range request.
  if (VSIFReadMultiRangeL(int(count), buffers.data(), offsets.data(), sizes.data(), file_) != 0)
    throw std::runtime_error(failed(ranges[0].offset, ranges[count - 1].offset +
                                                          ranges[count - 1].length -
                                                          ranges[0].offset));
}
