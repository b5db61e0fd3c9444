// Throughput of the entropy coder: table building plus coding, and decoding, of quantiser
// indices shaped like wavelet subbands (mostly zeros, Laplacian magnitudes), in records of
// 128 x 128 as the file writer codes them. Prints millions of indices per second and bits per
// index.
//
//   entropy_bench [records] [scale] [--raw FILE]
//
// --raw writes the indices as little-endian int16 so that a general-purpose peer can compress
// the same data.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codec/block_coder.h"

namespace {

std::vector<int16_t> subband_indices(size_t n, double scale, uint32_t seed) {
  std::vector<int16_t> indices(n);
  for (int16_t& index : indices) {
    seed = seed * 1664525u + 1013904223u;
    const double u = ((seed >> 8) + 0.5) / 16777216.0;
    const double magnitude = -scale * std::log(u);  // Laplacian around zero
    const int k = int(magnitude + 0.5);
    index = int16_t((seed & 1) ? -k : k);
  }
  return indices;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 400;
  const double scale = argc > 2 ? std::atof(argv[2]) : 1.5;
  const size_t per_record = 128 * 128;
  const std::vector<int16_t> indices = subband_indices(per_record * size_t(records), scale, 1);

  FILE* coded = tmpfile();
  std::vector<HuffmanTableDescriptor> tables(static_cast<size_t>(records));
  auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < records; ++r) {
    std::span<const int16_t> record(indices.data() + size_t(r) * per_record, per_record);
    HuffmanCodeTable table;
    if (GenHTDesc2(record, kValueRange, kRunRange, tables[r]) || GenCode2(tables[r], table) ||
        encode_block2(record, table, kValueRange, kRunRange, coded)) {
      return 1;
    }
  }
  const double encode_time = seconds_since(start);
  fputc(0xFF, coded);
  fputc(0xA9, coded);
  const double bits = double(ftello(coded)) * 8;
  rewind(coded);

  std::vector<int16_t> out(per_record);
  start = std::chrono::steady_clock::now();
  for (int r = 0; r < records; ++r) {
    size_t count = 0;
    if (expand_data(coded, tables[r], out, count) || count != per_record ||
        std::memcmp(out.data(), indices.data() + size_t(r) * per_record, per_record * 2) != 0) {
      std::fprintf(stderr, "record %d did not decode back\n", r);
      return 1;
    }
  }
  const double decode_time = seconds_since(start);
  fclose(coded);

  const double millions = double(indices.size()) / 1e6;
  std::printf("entropy coder, %d records of 128 x 128, scale %.2f: %.3f bits/index\n", records,
              scale, bits / double(indices.size()));
  std::printf("  tables + encode_block2: %7.1f Mindex/s\n", millions / encode_time);
  std::printf("  expand_data:            %7.1f Mindex/s\n", millions / decode_time);

  for (int a = 1; a + 1 < argc; ++a) {
    if (std::strcmp(argv[a], "--raw") != 0) continue;
    FILE* raw = std::fopen(argv[a + 1], "wb");
    if (raw == nullptr) return 1;
    std::fwrite(indices.data(), 2, indices.size(), raw);
    std::fclose(raw);
  }
  return 0;
}
