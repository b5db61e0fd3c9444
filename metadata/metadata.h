// Typed metadata records: named arrays of numbers or strings that describe a source image and,
// in the output file, the compression parameters. Operations return a slot index or 0 on
// success and a negative code on failure; none of them throws.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

enum MetadataType {
  TYPE_BYTE = 1,
  TYPE_SHORT = 2,
  TYPE_LONG = 3,
  TYPE_ASCII = 5,
  TYPE_FLOAT = 6,
  TYPE_DOUBLE = 7,
  TYPE_SBYTE = 8,
  TYPE_SSHORT = 9,
  TYPE_SLONG = 10,
  TYPE_DELETED = 11,  // marks a slot whose record was deleted
};

// Return codes of the list operations.
constexpr int kMetaNotFound = -1;       // also: an allocation or write failed
constexpr int kMetaGrowFailed = -3;
constexpr int kMetaBadStatus = -4;
constexpr int kMetaMissingArgument = -6;
constexpr int kMetaBadNdims = -7;
constexpr int kMetaMalformed = -8;    // metadata_read: the block is truncated or inconsistent

constexpr int kMetaKeyMax = 100;  // keys are compared and stored on at most this many characters

struct MetadataRecord {
  std::string key;
  int type = 0;  // 0: empty slot
  int count = 0;
  int ndims = 0;
  int dims[2] = {0, 0};
  std::vector<uint8_t> values;        // count x width bytes, host order (numeric types)
  std::vector<std::string> strings;   // count strings (TYPE_ASCII)
  bool empty() const { return type == 0 || type == TYPE_DELETED; }
};

struct MetadataList {
  uint16_t format1 = 1;
  uint16_t format2 = 0;
  int count = 0;
  int status = -1;
  std::vector<MetadataRecord> slots;  // capacity grows by 100
};

// Width in bytes of one value of a numeric type; 0 for ASCII and unknown types.
int metadata_type_width(int type);

int metadata_init(MetadataList* list);
int metadata_destroy(MetadataList* list);
int metadata_status(const MetadataList* list);
// values: count values of the type's width (host order), or for ASCII one C string.
int metadata_add(MetadataList* list, const char* key, int type, int ndims, const int* dims,
                 const void* values);
int metadata_delete(MetadataList* list, const char* key);
int metadata_find(const MetadataList* list, const char* key);
// Copies the record's count values into out (numeric types); for ASCII, *static_cast<std::string*>(out).
int metadata_get(const MetadataList* list, const char* key, void* out);
const MetadataRecord* metadata_record(const MetadataList* list, const char* key);
int metadata_copy(MetadataList* destination, const MetadataList* source, const char* key);
int metadata_merge(MetadataList* destination, const MetadataList* source);
int metadata_count(const MetadataList* list);
const char* metadata_key_at(const MetadataList* list, int slot);
// 0 when the records that tiles of one mosaic must share (resolutions, units, data type,
// coordinate system) agree; numbers measured on the ground agree within same_measure.
int metadata_compatible(const MetadataList* a, const MetadataList* b);
// Two measured values (pixel sizes, tie points, origins) agree when they differ by at most 1e-9
// of the larger: tiles cut by GIS tools carry sizes such as 32.8 and 32.8000000000002 for one
// grid.
bool same_measure(double a, double b);
// Serialises the list as the metadata block of the compressed file (big-endian).
int metadata_write(const MetadataList* list, FILE* stream);
// The same block in memory (for writers that need its size first).
int metadata_serialize(const MetadataList* list, std::vector<uint8_t>* out);
// Parses a metadata block written by metadata_write from memory into `list` (replacing its
// contents, keeping the block's record order); returns 0 or a negative code, leaving `list`
// untouched on failure. `consumed` receives the block's length including both markers.
int metadata_read(MetadataList* list, const uint8_t* data, size_t size, size_t* consumed);
void metadata_dump(const MetadataList* list);

// Typed adders for the well-known keys.
int metadata_add_long(MetadataList* list, const char* key, int32_t value);
int metadata_add_slong(MetadataList* list, const char* key, const int32_t* values, int n);
int metadata_add_short(MetadataList* list, const char* key, uint16_t value);
int metadata_add_float(MetadataList* list, const char* key, float value);
int metadata_add_double(MetadataList* list, const char* key, double value);
int metadata_add_doubles(MetadataList* list, const char* key, const double* values, int n);
int metadata_add_ascii(MetadataList* list, const char* key, const char* text);
int metadata_add_bytes(MetadataList* list, const char* key, const uint8_t* values, int n);
int metadata_add_lut(MetadataList* list, const uint8_t* lut, int entries);  // IMAGE::INPUT_LUT
