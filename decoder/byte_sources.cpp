// The library's own byte sources: a local file read with pread, and bytes in memory.
#include "decoder/byte_sources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "vexal/reader.h"

namespace vexal {

ByteSource::~ByteSource() = default;

void ByteSource::read_ranges(const Range* ranges, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) read(ranges[i].offset, ranges[i].buffer, ranges[i].length);
}

namespace {

// pread is safe from many threads at once: there is no shared file position.
class FileSource final : public ByteSource {
 public:
  explicit FileSource(const std::string& path) : path_(path) {
    // Without O_NONBLOCK, opening a FIFO would wait for a writer for ever.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
      if (fd_ >= 0) ::close(fd_);
      throw OpenError(path, "read");
    }
    // A device, FIFO or folder is no image.
    if (!S_ISREG(st.st_mode)) {
      ::close(fd_);
      throw Error(path + " is not a Vexal file (not a regular file).");
    }
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) {
      ::close(fd_);
      throw OpenError(path, "read");
    }
    size_ = uint64_t(end);
  }
  ~FileSource() override { ::close(fd_); }

  std::uint64_t size() const override { return size_; }

  void read(std::uint64_t offset, void* buffer, std::size_t length) override {
    auto* to = static_cast<unsigned char*>(buffer);
    while (length > 0) {
      const ssize_t n = ::pread(fd_, to, length, off_t(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw ReadError(path_);
      to += n;
      offset += uint64_t(n);
      length -= size_t(n);
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  void read(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset > bytes_.size() || length > bytes_.size() - offset)
      throw std::out_of_range("read beyond the end of the bytes in memory");
    if (length > 0) std::memcpy(buffer, bytes_.data() + offset, length);
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

std::shared_ptr<ByteSource> open_file_source(const std::string& path) {
  try {
    return open_local_file(path);
  } catch (const ::Error& e) {
    throw vexal::Error(e.what());
  }
}

std::shared_ptr<ByteSource> memory_source(std::vector<std::uint8_t> bytes) {
  return std::make_shared<MemorySource>(std::move(bytes));
}

std::shared_ptr<ByteSource> open_local_file(const std::string& path) {
  return std::make_shared<FileSource>(path);
}

}  // namespace vexal
