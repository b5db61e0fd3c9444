// Where a Reader's bytes come from: a local file, memory, or anything a caller implements (a web
// server answering range requests, a cloud storage SDK, an archive member). A Reader reads the
// file's tables once when it opens and then, for each rectangle, only the coded records it
// needs, merged into few ranges; a source that can fetch several ranges in one request (HTTP
// multi-range, an object store's batch call) says so by overriding read_ranges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#ifndef VEXAL_API
#define VEXAL_API __attribute__((visibility("default")))
#endif

namespace vexal {

// Thread safety: a Reader calls its source from one thread at a time. A source handed to
// several Readers is called from their threads at once and must allow that; the sources made by
// open_file_source and memory_source do.
class VEXAL_API ByteSource {
 public:
  virtual ~ByteSource();

  // Bytes in the source. Called once, when a Reader opens it.
  virtual std::uint64_t size() const = 0;

  // Copies exactly `length` bytes starting at `offset` into `buffer`. The Reader asks only for
  // bytes inside 0 .. size(); a source that cannot deliver them all throws (any
  // std::exception: the Reader reports its message as an Error naming the file).
  virtual void read(std::uint64_t offset, void* buffer, std::size_t length) = 0;

  // One range of a read_ranges call.
  struct Range {
    std::uint64_t offset;
    std::size_t length;
    void* buffer;
  };
  // Reads several ranges, as read() would each; they are sorted by offset and do not overlap.
  // The default calls read() for each in turn.
  virtual void read_ranges(const Range* ranges, std::size_t count);
};

// A local file, read with positioned reads (no buffering beyond what each request asks for).
// Throws Error "Error opening file <path> for read." when it cannot be opened.
VEXAL_API std::shared_ptr<ByteSource> open_file_source(const std::string& path);

// The bytes of a whole file held in memory.
VEXAL_API std::shared_ptr<ByteSource> memory_source(std::vector<std::uint8_t> bytes);

}  // namespace vexal
