#include "metadata/metadata.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr int kGrowStep = 100;
constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kStartOfMetadata = 0xD1;
constexpr uint8_t kEndOfMetadata = 0xD2;

// Keys are stored and compared on at most 99 characters, so every stored key keeps its NUL
// and a longer key always matches the record it created.
std::string normalized_key(const char* key) {
  return std::string(key, strnlen(key, kMetaKeyMax - 1));
}

bool known_type(int type) { return type == TYPE_ASCII || metadata_type_width(type) > 0; }

// Common refusal of a missing or destroyed list.
int check_list(const MetadataList* list) {
  if (!list) return kMetaMissingArgument;
  return list->status < 0 ? kMetaBadStatus : 0;
}

int find_slot(const MetadataList* list, const std::string& key) {
  for (size_t i = 0; i < list->slots.size(); ++i) {
    const MetadataRecord& r = list->slots[i];
    if (!r.empty() && r.key == key) return static_cast<int>(i);
  }
  return kMetaNotFound;
}

void empty_slot(MetadataList* list, int slot) {
  MetadataRecord& r = list->slots[slot];
  r = MetadataRecord();
  r.type = TYPE_DELETED;
  --list->count;
}

// Replaces any record of the same key, then puts `record` into the lowest empty slot.
int store_record(MetadataList* list, MetadataRecord record) {
  for (int slot; (slot = find_slot(list, record.key)) >= 0;) empty_slot(list, slot);
  size_t slot = 0;
  while (slot < list->slots.size() && !list->slots[slot].empty()) ++slot;
  if (slot == list->slots.size()) {
    try {
      list->slots.resize(list->slots.size() + kGrowStep);
    } catch (const std::bad_alloc&) {
      return kMetaGrowFailed;
    }
  }
  list->slots[slot] = std::move(record);
  ++list->count;
  return static_cast<int>(slot);
}

// Product of the dimensions, or -1 when negative or beyond what a record can hold.
int64_t value_count(int ndims, const int* dims) {
  int64_t count = 1;
  for (int i = 0; i < ndims; ++i) {
    if (dims[i] < 0) return -1;
    count *= dims[i];
    if (count > std::numeric_limits<int>::max()) return -1;
  }
  return count;
}

void put_be(std::vector<uint8_t>& out, uint64_t value, int width) {
  for (int shift = (width - 1) * 8; shift >= 0; shift -= 8)
    out.push_back(static_cast<uint8_t>(value >> shift));
}

uint64_t host_value(const uint8_t* p, int width) {
  switch (width) {
    case 1: return p[0];
    case 2: { uint16_t v; std::memcpy(&v, p, 2); return v; }
    case 4: { uint32_t v; std::memcpy(&v, p, 4); return v; }
    default: { uint64_t v; std::memcpy(&v, p, 8); return v; }
  }
}

void store_host_value(uint8_t* p, uint64_t value, int width) {
  switch (width) {
    case 1: p[0] = static_cast<uint8_t>(value); break;
    case 2: { uint16_t v = static_cast<uint16_t>(value); std::memcpy(p, &v, 2); break; }
    case 4: { uint32_t v = static_cast<uint32_t>(value); std::memcpy(p, &v, 4); break; }
    default: std::memcpy(p, &value, 8); break;
  }
}

void serialize_record(std::vector<uint8_t>& out, const MetadataRecord& r) {
  put_be(out, r.key.size() + 12 + 4 * r.ndims, 4);
  out.insert(out.end(), r.key.begin(), r.key.end());
  out.push_back(0);
  put_be(out, static_cast<uint32_t>(r.type), 4);
  put_be(out, static_cast<uint32_t>(r.count), 4);
  put_be(out, static_cast<uint32_t>(r.ndims), 4);
  for (int i = 0; i < r.ndims; ++i) put_be(out, static_cast<uint32_t>(r.dims[i]), 4);
  if (r.type == TYPE_ASCII) {
    for (const std::string& s : r.strings) out.insert(out.end(), s.c_str(), s.c_str() + s.size() + 1);
    return;
  }
  const int width = metadata_type_width(r.type);
  for (size_t i = 0; i + width <= r.values.size(); i += width)
    put_be(out, host_value(&r.values[i], width), width);
}

bool first_values_equal(const MetadataRecord& a, const MetadataRecord& b) {
  if (a.count == 0 || b.count == 0) return a.count == b.count;
  switch (a.type) {
    case TYPE_BYTE: case TYPE_SBYTE: case TYPE_SHORT: case TYPE_SSHORT:
    case TYPE_LONG: case TYPE_SLONG:
      return std::memcmp(a.values.data(), b.values.data(), metadata_type_width(a.type)) == 0;
    case TYPE_FLOAT: {
      float x, y;
      std::memcpy(&x, a.values.data(), 4);
      std::memcpy(&y, b.values.data(), 4);
      return same_measure(x, y);
    }
    case TYPE_DOUBLE: {
      double x, y;
      std::memcpy(&x, a.values.data(), 8);
      std::memcpy(&y, b.values.data(), 8);
      return same_measure(x, y);
    }
    case TYPE_ASCII: return a.strings[0] == b.strings[0];
    default: return false;
  }
}

void dump_value(const MetadataRecord& r, int k) {
  const char* key = r.key.c_str();
  const uint8_t* v = r.values.data() + static_cast<size_t>(k) * metadata_type_width(r.type);
  switch (r.type) {
    case TYPE_BYTE: std::printf("\tTYPE_BYTE\t%d\t\t%s \n", v[0], key); break;
    case TYPE_SBYTE: std::printf("\tTYPE_SBYTE\t%d\t\t%s \n", static_cast<int8_t>(v[0]), key); break;
    case TYPE_SHORT:
      std::printf("\tTYPE_SHORT\t%d\t\t%s \n", static_cast<uint16_t>(host_value(v, 2)), key);
      break;
    case TYPE_SSHORT:
      std::printf("\tTYPE_SSHORT\t%hd\t\t%s \n", static_cast<short>(host_value(v, 2)), key);
      break;
    case TYPE_LONG:
      std::printf("\tTYPE_LONG\t%ld\t\t%s \n", static_cast<long>(static_cast<int32_t>(host_value(v, 4))), key);
      break;
    case TYPE_SLONG:
      std::printf("\tTYPE_SLONG\t%ld\t\t%s \n", static_cast<long>(static_cast<int32_t>(host_value(v, 4))), key);
      break;
    case TYPE_FLOAT: { float f; std::memcpy(&f, v, 4); std::printf("\tTYPE_FLOAT\t%f\t\t%s \n", f, key); break; }
    case TYPE_DOUBLE: { double d; std::memcpy(&d, v, 8); std::printf("\tTYPE_DOUBLE\t%lf\t%s \n", d, key); break; }
    case TYPE_ASCII: std::printf("\tTYPE_ASCII\t%s\t%s \n", r.strings[k].c_str(), key); break;
    default: std::printf(" Error: TYPE UNKNOWN  "); break;
  }
}

// Bounds-checked big-endian reader over the metadata block.
class BlockReader {
 public:
  BlockReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool has(size_t n) const { return n <= size_ - pos_; }
  bool u8(uint8_t* v) { return read(1, [&](const uint8_t* p) { *v = p[0]; }); }
  bool be(int width, uint64_t* v) {
    return read(width, [&](const uint8_t* p) {
      *v = 0;
      for (int i = 0; i < width; ++i) *v = (*v << 8) | p[i];
    });
  }
  bool i32(int* v) {
    uint64_t u;
    if (!be(4, &u)) return false;
    *v = static_cast<int32_t>(static_cast<uint32_t>(u));
    return true;
  }
  // A NUL-terminated string that ends inside the block.
  bool cstring(std::string* s) {
    const void* nul = std::memchr(data_ + pos_, 0, size_ - pos_);
    if (!nul) return false;
    const size_t n = static_cast<const uint8_t*>(nul) - (data_ + pos_);
    s->assign(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n + 1;
    return true;
  }
  bool peek_end() const {
    return has(2) && data_[pos_] == kMarker && data_[pos_ + 1] == kEndOfMetadata;
  }
  size_t position() const { return pos_; }

 private:
  template <typename F>
  bool read(size_t n, F&& take) {
    if (!has(n)) return false;
    take(data_ + pos_);
    pos_ += n;
    return true;
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool read_values(BlockReader& in, MetadataRecord* r) {
  if (r->type == TYPE_ASCII) {
    r->strings.resize(r->count);
    for (std::string& s : r->strings)
      if (!in.cstring(&s)) return false;
    return true;
  }
  const int width = metadata_type_width(r->type);
  if (!in.has(static_cast<size_t>(r->count) * width)) return false;
  r->values.resize(static_cast<size_t>(r->count) * width);
  for (int i = 0; i < r->count; ++i) {
    uint64_t v = 0;
    in.be(width, &v);
    store_host_value(&r->values[static_cast<size_t>(i) * width], v, width);
  }
  return true;
}

// One record; its stated length must agree with its key and dimensions.
bool read_record(BlockReader& in, MetadataRecord* r) {
  int length;
  if (!in.i32(&length) || !in.cstring(&r->key)) return false;
  if (!in.i32(&r->type) || !in.i32(&r->count) || !in.i32(&r->ndims)) return false;
  if (!known_type(r->type) || r->ndims < 0 || r->ndims > 2) return false;
  if (r->key.size() >= kMetaKeyMax) return false;
  if (static_cast<int64_t>(length) != static_cast<int64_t>(r->key.size()) + 12 + 4 * r->ndims)
    return false;
  for (int i = 0; i < r->ndims; ++i)
    if (!in.i32(&r->dims[i])) return false;
  if (r->count < 0 || value_count(r->ndims, r->dims) != r->count) return false;
  return read_values(in, r);
}

}  // namespace

int metadata_type_width(int type) {
  switch (type) {
    case TYPE_BYTE: case TYPE_SBYTE: return 1;
    case TYPE_SHORT: case TYPE_SSHORT: return 2;
    case TYPE_LONG: case TYPE_SLONG: case TYPE_FLOAT: return 4;
    case TYPE_DOUBLE: return 8;
    default: return 0;
  }
}

int metadata_init(MetadataList* list) {
  if (!list) return kMetaMissingArgument;
  *list = MetadataList();
  list->slots.resize(kGrowStep);
  list->status = 0;
  const int rc = metadata_add_short(list, "IMAGE::SOM", 1);
  return rc < 0 ? rc : 0;
}

int metadata_destroy(MetadataList* list) {
  if (const int rc = check_list(list)) return rc;
  list->slots.clear();
  list->slots.shrink_to_fit();
  list->count = 0;
  list->status = -1;
  return 0;
}

int metadata_status(const MetadataList* list) {
  if (!list) return kMetaMissingArgument;
  return list->status < 0 ? -1 : 0;
}

int metadata_add(MetadataList* list, const char* key, int type, int ndims, const int* dims,
                 const void* values) {
  if (!list || !key || !dims || !values) return kMetaMissingArgument;
  if (ndims < 0 || ndims > 2) return kMetaBadNdims;
  if (list->status < 0) return kMetaBadStatus;
  // A record of unknown width could be neither written nor read back.
  if (!known_type(type)) return kMetaNotFound;
  const int64_t count = value_count(ndims, dims);
  if (count < 0) return kMetaNotFound;
  MetadataRecord r;
  r.key = normalized_key(key);
  r.type = type;
  r.count = static_cast<int>(count);
  r.ndims = ndims;
  for (int i = 0; i < ndims; ++i) r.dims[i] = dims[i];
  try {
    if (type == TYPE_ASCII) {
      r.strings.assign(r.count, static_cast<const char*>(values));
    } else {
      const auto* p = static_cast<const uint8_t*>(values);
      r.values.assign(p, p + count * metadata_type_width(type));
    }
  } catch (const std::bad_alloc&) {
    return kMetaNotFound;
  }
  return store_record(list, std::move(r));
}

int metadata_delete(MetadataList* list, const char* key) {
  if (!key) return kMetaMissingArgument;
  if (const int rc = check_list(list)) return rc;
  const int slot = find_slot(list, normalized_key(key));
  if (slot >= 0) empty_slot(list, slot);
  return slot;
}

int metadata_find(const MetadataList* list, const char* key) {
  if (!key) return kMetaMissingArgument;
  if (const int rc = check_list(list)) return rc;
  return find_slot(list, normalized_key(key));
}

const MetadataRecord* metadata_record(const MetadataList* list, const char* key) {
  const int slot = metadata_find(list, key);
  return slot >= 0 ? &list->slots[slot] : nullptr;
}

int metadata_get(const MetadataList* list, const char* key, void* out) {
  if (!out) return kMetaMissingArgument;
  const int slot = metadata_find(list, key);
  if (slot < 0) return slot;
  const MetadataRecord& r = list->slots[slot];
  if (r.type == TYPE_ASCII)
    *static_cast<std::string*>(out) = r.strings.empty() ? std::string() : r.strings[0];
  else if (!r.values.empty())
    std::memcpy(out, r.values.data(), r.values.size());
  return slot;
}

int metadata_copy(MetadataList* destination, const MetadataList* source, const char* key) {
  if (const int rc = check_list(destination)) return rc;
  const int slot = metadata_find(source, key);
  if (slot < 0) return slot;
  return store_record(destination, source->slots[slot]);
}

int metadata_merge(MetadataList* destination, const MetadataList* source) {
  if (const int rc = check_list(destination)) return rc;
  if (const int rc = check_list(source)) return rc;
  for (const MetadataRecord& r : source->slots) {
    if (r.empty() || r.key == "IMAGE::SOM" || r.key == "IMAGE::EOM") continue;
    const int rc = store_record(destination, r);
    if (rc < 0) return rc;
  }
  destination->status = 0;
  return 0;
}

int metadata_count(const MetadataList* list) {
  if (const int rc = check_list(list)) return rc;
  return list->count;
}

const char* metadata_key_at(const MetadataList* list, int slot) {
  if (check_list(list) != 0 || slot < 0 || slot >= static_cast<int>(list->slots.size()))
    return nullptr;
  const MetadataRecord& r = list->slots[slot];
  return r.empty() ? nullptr : r.key.c_str();
}

bool same_measure(double a, double b) {
  return std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b));
}

int metadata_compatible(const MetadataList* a, const MetadataList* b) {
  static const char* const kCompared[] = {
      "IMAGE::X_RESOLUTION",   "IMAGE::Y_RESOLUTION",     "IMAGE::Z_RESOLUTION",
      "IMAGE::HORIZONTAL_UNITS", "IMAGE::VERTICAL_UNITS", "IMAGE::Z_UNITS",
      "IMAGE::DATA_TYPE",      "IMAGE::BITS_PER_SAMPLE",  "GEO::HORIZONTAL_DATUM",
      "GEO::HORIZONTAL_COORDSYSTEMZONE", "GEO::ModelTypeGeoKey",
      "GEO::ProjectedCSTypeGeoKey", "GEO::PCSCitationGeoKey"};
  if (!a || !b) return kMetaMissingArgument;
  if (a->status < 0 || b->status < 0) return kMetaBadStatus;
  for (const char* key : kCompared) {
    const MetadataRecord* ra = metadata_record(a, key);
    const MetadataRecord* rb = metadata_record(b, key);
    if (!ra && !rb) continue;
    if (!ra || !rb || ra->type != rb->type || !first_values_equal(*ra, *rb)) return -1;
  }
  return 0;
}

int metadata_serialize(const MetadataList* list, std::vector<uint8_t>* out) {
  if (!out) return kMetaMissingArgument;
  if (const int rc = check_list(list)) return rc;
  out->clear();
  out->push_back(kMarker);
  out->push_back(kStartOfMetadata);
  put_be(*out, list->format1, 2);
  put_be(*out, list->format2, 2);
  for (const MetadataRecord& r : list->slots)
    if (!r.empty()) serialize_record(*out, r);
  out->push_back(kMarker);
  out->push_back(kEndOfMetadata);
  return 0;
}

int metadata_write(const MetadataList* list, FILE* stream) {
  if (!stream) return kMetaMissingArgument;
  std::vector<uint8_t> block;
  if (const int rc = metadata_serialize(list, &block)) return rc;
  return std::fwrite(block.data(), 1, block.size(), stream) == block.size() ? 0 : kMetaNotFound;
}

int metadata_read(MetadataList* list, const uint8_t* data, size_t size, size_t* consumed) {
  if (!list || (!data && size > 0)) return kMetaMissingArgument;
  BlockReader in(data, size);
  uint8_t m0 = 0, m1 = 0;
  uint64_t f1 = 0, f2 = 0;
  if (!in.u8(&m0) || !in.u8(&m1) || m0 != kMarker || m1 != kStartOfMetadata) return kMetaMalformed;
  if (!in.be(2, &f1) || !in.be(2, &f2)) return kMetaMalformed;
  MetadataList parsed;
  parsed.format1 = static_cast<uint16_t>(f1);
  parsed.format2 = static_cast<uint16_t>(f2);
  parsed.slots.resize(kGrowStep);
  parsed.status = 0;
  while (!in.peek_end()) {
    MetadataRecord r;
    // A writer never repeats a key; a block that does is damaged.
    if (!read_record(in, &r) || find_slot(&parsed, r.key) >= 0) return kMetaMalformed;
    const int rc = store_record(&parsed, std::move(r));
    if (rc < 0) return rc;
  }
  *list = std::move(parsed);
  if (consumed) *consumed = in.position() + 2;
  return 0;
}

void metadata_dump(const MetadataList* list) {
  if (check_list(list) != 0) return;
  for (size_t slot = 0; slot < list->slots.size(); ++slot) {
    const MetadataRecord& r = list->slots[slot];
    if (r.empty()) continue;
    for (int k = 0; k < r.count; ++k) {
      if (k == 0)
        std::printf(" %d", static_cast<int>(slot));
      else
        std::printf(" ");
      dump_value(r, k);
      std::fflush(stdout);
    }
  }
}

int metadata_add_long(MetadataList* list, const char* key, int32_t value) {
  const int dims[1] = {1};
  return metadata_add(list, key, TYPE_LONG, 1, dims, &value);
}

int metadata_add_slong(MetadataList* list, const char* key, const int32_t* values, int n) {
  const int dims[1] = {n};
  return metadata_add(list, key, TYPE_SLONG, 1, dims, values);
}

int metadata_add_short(MetadataList* list, const char* key, uint16_t value) {
  const int dims[1] = {1};
  return metadata_add(list, key, TYPE_SHORT, 1, dims, &value);
}

int metadata_add_float(MetadataList* list, const char* key, float value) {
  const int dims[1] = {1};
  return metadata_add(list, key, TYPE_FLOAT, 1, dims, &value);
}

int metadata_add_double(MetadataList* list, const char* key, double value) {
  return metadata_add_doubles(list, key, &value, 1);
}

int metadata_add_doubles(MetadataList* list, const char* key, const double* values, int n) {
  const int dims[1] = {n};
  return metadata_add(list, key, TYPE_DOUBLE, 1, dims, values);
}

int metadata_add_ascii(MetadataList* list, const char* key, const char* text) {
  const int dims[1] = {1};
  return metadata_add(list, key, TYPE_ASCII, 1, dims, text);
}

int metadata_add_bytes(MetadataList* list, const char* key, const uint8_t* values, int n) {
  const int dims[1] = {n};
  return metadata_add(list, key, TYPE_BYTE, 1, dims, values);
}

int metadata_add_lut(MetadataList* list, const uint8_t* lut, int entries) {
  const int dims[2] = {3, entries};
  return metadata_add(list, "IMAGE::INPUT_LUT", TYPE_BYTE, 2, dims, lut);
}
