#include "encoder/writer/band_payload.h"

#include <algorithm>
#include <cstdlib>

#include "codec/block_coder.h"
#include "codec/failure_lines.h"
#include "codec/ht_desc_io.h"
#include "codec/huffman_table.h"
#include "codec/symbol_alphabet.h"
#include "platform/error.h"

namespace {

// A part is made with the same stream writers as the files, in memory.
class MemoryStream {
 public:
  MemoryStream() : f_(open_memstream(&data_, &size_)) {
    if (!f_) throw Error("Memory allocation error.");
  }
  ~MemoryStream() {
    if (f_) std::fclose(f_);
    std::free(data_);
  }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  FILE* stream() const { return f_; }
  std::vector<uint8_t> take() {
    const int closed = std::fclose(f_);
    f_ = nullptr;
    if (closed != 0) throw Error("Memory allocation error.");
    const uint8_t* p = reinterpret_cast<const uint8_t*>(data_);
    return std::vector<uint8_t>(p, p + size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  FILE* f_;
};

size_t record_count(int w, int h) {
  return size_t((w + kRecordSize - 1) / kRecordSize) * size_t((h + kRecordSize - 1) / kRecordSize);
}

// The symbols of the records of a part, row-major, each record's indices taken row after row;
// `ends[r]` is where record r's symbols end. Found once, for the table and for the coding.
// The buffers are kept per thread from part to part, so they stop growing after the first few.
struct PartSymbols {
  std::vector<AlphabetSymbol> symbols;
  std::vector<size_t> ends;
  std::vector<int16_t> record;

  void find(std::span<const int16_t> indices, int w, int h) {
    symbols.clear();
    ends.clear();
    for (int y0 = 0; y0 < h; y0 += kRecordSize) {
      for (int x0 = 0; x0 < w; x0 += kRecordSize) {
        const int x1 = std::min(x0 + kRecordSize, w), y1 = std::min(y0 + kRecordSize, h);
        std::span<const int16_t> rows = indices.subspan(size_t(y0) * size_t(w),
                                                        size_t(y1 - y0) * size_t(w));
        if (x1 - x0 != w) {  // a record narrower than the part: its rows gathered
          record.clear();
          for (int y = y0; y < y1; ++y) {
            const auto row = indices.begin() + ptrdiff_t(y) * w;
            record.insert(record.end(), row + x0, row + x1);
          }
          rows = record;
        }
        append_symbols(rows, kValueRange, kRunRange, symbols);
        ends.push_back(symbols.size());
      }
    }
  }
  std::span<const AlphabetSymbol> of(size_t r) const {
    const size_t begin = r == 0 ? 0 : ends[r - 1];
    return std::span<const AlphabetSymbol>(symbols).subspan(begin, ends[r] - begin);
  }
};

void put_u32(uint8_t* at, uint32_t v) {
  at[0] = uint8_t(v >> 24), at[1] = uint8_t(v >> 16), at[2] = uint8_t(v >> 8), at[3] = uint8_t(v);
}

// Where the record offsets of a part begin: behind marker, BITS, HUFFVAL, step and record size.
size_t offsets_at(std::span<const uint8_t> part) {
  if (part.size() < 2 + kMaxCodeLength) throw Error("Error encountered in record_rec_offset.");
  size_t values = 0;
  for (int i = 0; i < kMaxCodeLength; ++i) values += part[2 + size_t(i)];
  return 2 + kMaxCodeLength + values + 4 + 8;
}

}  // namespace

std::vector<uint8_t> code_band_part(std::span<const int16_t> indices, int w, int h, float step) {
  thread_local PartSymbols found;
  found.find(indices, w, h);
  SymbolCounts counts;
  for (const AlphabetSymbol& s : found.symbols) ++counts.count[s.symbol];
  HuffmanTableDescriptor desc;
  if (build_ht_desc(counts, desc) != 0) throw Error("Error encountered in GenHTDesc2.");
  HuffmanCodeTable table;
  if (GenCode2(desc, table) != 0) throw Error("Error encountered in GenCode2.");
  MemoryStream part;
  FILE* f = part.stream();
  uint8_t size[8];
  put_u32(size, uint32_t(kRecordSize));
  put_u32(size + 4, uint32_t(kRecordSize));
  const char* kHeader = "Error encountered in write_hblk_header.";
  if (write_ht_desc(f, kBlockBandHeaderMarker, desc) != 0 || write_float(f, step) != 0 ||
      std::fwrite(size, 1, 8, f) != 8)
    throw Error(kHeader);
  const size_t records = found.ends.size();
  const std::vector<uint8_t> zeros(4 * records, 0);
  if (std::fwrite(zeros.data(), 1, zeros.size(), f) != zeros.size()) throw Error(kHeader);
  std::vector<uint32_t> starts;
  starts.reserve(records);
  for (size_t r = 0; r < records; ++r) {
    starts.push_back(uint32_t(ftello(f)));
    if (encode_symbols(found.of(r), table, f) != 0)
      throw Error("Error encountered in encode_block2.");
  }
  std::vector<uint8_t> bytes = part.take();
  const size_t at = offsets_at(bytes);
  for (size_t r = 0; r < starts.size(); ++r) put_u32(bytes.data() + at + 4 * r, starts[r]);
  return bytes;
}

void relocate_band_part(std::span<uint8_t> part, int w, int h, uint32_t base) {
  const size_t at = offsets_at(part), n = record_count(w, h);
  if (at + 4 * n > part.size()) throw Error("Error encountered in record_rec_offset.");
  for (size_t r = 0; r < n; ++r) {
    uint8_t* p = part.data() + at + 4 * r;
    const uint32_t v = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    put_u32(p, v + base);
  }
}

BandPayload read_band_payload(FILE* in, int64_t offset, int w, int h) {
  if (ftello(in) != offset) throw Error("File offset error in subroutine decode_indices.\n");
  uint8_t marker[2];
  if (std::fread(marker, 1, 2, in) != 2 || marker[0] != kMarkerPrefix ||
      marker[1] != kBlockBandHeaderMarker)
    throw Error("Error encountered in ReadHTDesc.");
  BandPayload p;
  HuffmanTableDescriptor desc;
  if (read_ht_desc_fields(in, desc) != 0)
    throw Error("Error encountered in ReadHTDesc" + failure_line_suffix() + ".");
  if (read_float(in, p.step) != 0) throw Error("Error encountered in read_float.");
  // Record size and offsets: the records follow one another, each read where the last ended.
  const size_t n = record_count(w, h);
  if (std::fseek(in, long(8 + 4 * n), SEEK_CUR) != 0) throw Error("Error encountered in read_float.");
  p.indices.assign(size_t(w) * size_t(h), 0);
  std::vector<int16_t> record;
  for (int y0 = 0; y0 < h; y0 += kRecordSize) {
    for (int x0 = 0; x0 < w; x0 += kRecordSize) {
      const int rw = std::min(kRecordSize, w - x0), rh = std::min(kRecordSize, h - y0);
      record.assign(size_t(rw) * size_t(rh), 0);
      size_t decoded = 0;
      if (expand_data(in, desc, record, decoded) != 0)
        throw Error("Error encountered in expand_data" + failure_line_suffix() + ".");
      if (decoded != record.size()) throw Error("Incorrect number of symbols decoded.");
      for (int y = 0; y < rh; ++y)
        std::copy_n(record.begin() + ptrdiff_t(y) * rw, rw,
                    p.indices.begin() + ptrdiff_t(y0 + y) * w + x0);
    }
  }
  return p;
}
