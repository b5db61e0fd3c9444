#include "image/tiff_directory.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/error.h"

namespace {

constexpr uint16_t kStripOffsets = 273, kStripByteCounts = 279;
constexpr uint16_t kTileOffsets = 324, kTileByteCounts = 325;

// Reads numbers in the file's byte order; every failure names the file.
class TiffStream {
 public:
  TiffStream(const std::string& name, FILE* file) : name_(name), file_(file) {
    if (fseeko(file_, 0, SEEK_END) == 0) size_ = static_cast<uint64_t>(ftello(file_));
    std::rewind(file_);
  }
  void set_big_endian(bool big) { big_endian_ = big; }
  bool big_endian() const { return big_endian_; }
  uint64_t size() const { return size_; }

  void seek(uint64_t offset) {
    if (offset > size_ || fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) fail();
  }
  void read(void* out, size_t n) {
    if (std::fread(out, 1, n, file_) != n) fail();
  }
  uint64_t number(int bytes) {
    uint8_t b[8];
    read(b, static_cast<size_t>(bytes));
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t{b[big_endian_ ? bytes - 1 - i : i]} << (8 * i);
    return v;
  }
  [[noreturn]] void fail() const {
    throw Quorvale::Exception(name_.empty() ? std::string("Error reading from stream.")
                                            : "Error reading " + name_ + ".");
  }
  [[noreturn]] void invalid() const {
    throw Quorvale::Exception("Error: the file " + name_ + " is not a valid TIFF image.");
  }

 private:
  std::string name_;
  FILE* file_;
  uint64_t size_ = 0;
  bool big_endian_ = false;
};

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};

bool host_is_big_endian() {
  uint16_t probe = 1;
  uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 0;
}

// Values arrive in the file's order; rationals are pairs of 32-bit numbers.
void to_host_order(TiffDirectoryEntry& e, bool file_big_endian) {
  if (file_big_endian == host_is_big_endian()) return;
  int unit = type_size(e.type);
  if (e.type == 5 || e.type == 10) unit = 4;
  if (unit == 1) return;
  for (size_t i = 0; i + unit <= e.values.size(); i += unit)
    std::reverse(e.values.begin() + i, e.values.begin() + i + unit);
}

bool known_type(int type, bool big) {
  return (type >= 1 && type <= 13) || (big && type >= 16 && type <= 18);
}

// Reads the entry at the stream position; `field` is the size of its value-or-offset field.
TiffDirectoryEntry read_entry(TiffStream& in, const std::string& name, bool big) {
  TiffDirectoryEntry e;
  e.tag = static_cast<uint16_t>(in.number(2));
  e.type = static_cast<uint16_t>(in.number(2));
  e.count = in.number(big ? 8 : 4);
  const int field = big ? 8 : 4;
  uint8_t inline_value[8];
  in.read(inline_value, static_cast<size_t>(field));
  if (e.tag == kStripOffsets || e.tag == kStripByteCounts || e.tag == kTileOffsets ||
      e.tag == kTileByteCounts) {
    e.count = 0;
    return e;
  }
  if (!known_type(e.type, big))
    throw Quorvale::Exception("Unrecognized field value encountered in " + name + ".");
  uint64_t size = static_cast<uint64_t>(type_size(e.type));
  // Hostile counts: a field cannot hold more bytes than the file has.
  if (e.count > in.size() / size) in.fail();
  uint64_t bytes = e.count * size;
  e.values.resize(bytes);
  if (bytes <= static_cast<uint64_t>(field)) {
    if (bytes > 0) std::memcpy(e.values.data(), inline_value, bytes);  // an empty field has no buffer
  } else {
    uint64_t offset = 0;
    for (int i = 0; i < field; ++i)
      offset |= uint64_t{inline_value[in.big_endian() ? field - 1 - i : i]} << (8 * i);
    if (offset > in.size() || bytes > in.size() - offset) in.fail();
    in.seek(offset);
    in.read(e.values.data(), bytes);
  }
  to_host_order(e, in.big_endian());
  return e;
}

}  // namespace

int type_size(int type) {
  switch (type) {
    case 1: case 2: case 6: case 7:
      return 1;
    case 3: case 8:
      return 2;
    case 4: case 9: case 11: case 13:
      return 4;
    case 5: case 10: case 12: case 16: case 17: case 18:
      return 8;
    default:
      throw Quorvale::Exception("Error: unknown datatype passed to type_size().");
  }
}

TiffDirectory::TiffDirectory(const Quorvale::FileSpecification& file) {
  const std::string name = file.str();
  std::unique_ptr<FILE, FileCloser> handle(file.open("rb"));
  if (!handle) throw Quorvale::Exception("Error opening " + name + " for read.");
  TiffStream in(name, handle.get());
  char order[2];
  in.read(order, 2);
  if (order[0] != order[1] || (order[0] != 'I' && order[0] != 'M')) in.invalid();
  in.set_big_endian(order[0] == 'M');
  uint64_t magic = in.number(2);
  if (magic == 43) {
    // BigTIFF: offsets are 8 bytes wide; the header says so, followed by a zero pad.
    if (in.number(2) != 8 || in.number(2) != 0) in.invalid();
    big_ = true;
  } else if (magic != 42) {
    in.invalid();
  }
  uint64_t offset = in.number(big_ ? 8 : 4);
  if (offset == 0) return;
  in.seek(offset);
  uint64_t count = in.number(big_ ? 8 : 2);
  if (count > in.size() / (big_ ? 20 : 12)) in.fail();
  const uint64_t entry_bytes = big_ ? 20 : 12;
  for (uint64_t i = 0; i < count; ++i) {
    in.seek(offset + (big_ ? 8 : 2) + i * entry_bytes);
    entries_.push_back(read_entry(in, name, big_));
  }
}

const TiffDirectoryEntry* TiffDirectory::find(uint16_t tag) const {
  for (const auto& e : entries_)
    if (e.tag == tag) return &e;
  return nullptr;
}
