#include "platform/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/error.h"

namespace Quorvale {
namespace {

int temp_counter = 0;
constexpr int kCounterLimit = 0x10000;

// Opens `name` only if it does not exist yet; returns the descriptor or -1.
int create_exclusive(const std::string& name) {
  return ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
}

std::string join(const std::string& dir, const std::string& name) {
  if (!dir.empty() && dir.back() != '/') return dir + "/" + name;
  return dir + name;
}

// Creates the file and returns its name and descriptor.
std::pair<FileSpecification, int> create_temp(const FileSpecification* temp_dir) {
  if (temp_dir) {
    if (!accessible(*temp_dir))
      throw Error(format_message(
          "Error: specified temporary directory \"%s\" is not accessible or does not exist.",
          temp_dir->path()));
    while (temp_counter < kCounterLimit) {
      const std::string candidate = join(temp_dir->str(), "tmp" + std::to_string(temp_counter));
      ++temp_counter;
      const int fd = create_exclusive(candidate);
      if (fd >= 0) return {FileSpecification(candidate), fd};
      if (errno != EEXIST) break;
    }
    throw Error(format_message("Error creating temporary file in directory %s.", temp_dir->path()));
  }
  const char* env = std::getenv("TMPDIR");
  std::string pattern = join(env && *env ? env : ".", "tmpXXXXXX");
  const int fd = mkstemp(pattern.data());
  if (fd < 0) throw Error("Error creating temporary file.\n");
  return {FileSpecification(pattern), fd};
}

}  // namespace

FileSpecification directory_of(const FileSpecification& file) {
  const std::string& p = file.str();
  const size_t slash = p.rfind('/');
  return FileSpecification(slash == std::string::npos ? std::string(".") : p.substr(0, slash + 1));
}

FileSpecification make_temp_name(const FileSpecification* temp_dir) {
  auto [name, fd] = create_temp(temp_dir);
  ::close(fd);
  return name;
}

ScopedTempFile::ScopedTempFile(const FileSpecification* temp_dir) {
  auto [name, fd] = create_temp(temp_dir);
  name_ = name;
  owned_ = true;
  stream_ = fdopen(fd, "w+b");
  if (!stream_) {
    ::close(fd);
    discard();
    throw OpenError(name_.str(), "write");
  }
}

ScopedTempFile::~ScopedTempFile() { discard(); }

ScopedTempFile::ScopedTempFile(ScopedTempFile&& other) noexcept
    : name_(other.name_), stream_(other.stream_), owned_(other.owned_) {
  other.stream_ = nullptr;
  other.owned_ = false;
}

ScopedTempFile& ScopedTempFile::operator=(ScopedTempFile&& other) noexcept {
  if (this != &other) {
    discard();
    name_ = other.name_;
    stream_ = other.stream_;
    owned_ = other.owned_;
    other.stream_ = nullptr;
    other.owned_ = false;
  }
  return *this;
}

bool ScopedTempFile::close() {
  if (!stream_) return true;
  const int rc = std::fclose(stream_);
  stream_ = nullptr;
  return rc == 0;
}

void ScopedTempFile::commit_to(const FileSpecification& target) {
  if (stream_) {
    // Temporary files are private; the finished one gets the usual permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fileno(stream_), 0666 & ~mask);
  }
  if (!close() || name_.rename_to(target) != 0) throw WriteError(target.str());
  release();
}

void ScopedTempFile::release() {
  stream_ = nullptr;
  owned_ = false;
}

void ScopedTempFile::discard() noexcept {
  if (!owned_) return;
  if (stream_) std::fclose(stream_);
  stream_ = nullptr;
  ::unlink(name_.path());
  owned_ = false;
}

void reset_temp_counter_for_tests() { temp_counter = 0; }

}  // namespace Quorvale
