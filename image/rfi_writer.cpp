#include "image/rfi_writer.h"

#include <cstring>
#include <vector>

#include "platform/error.h"

namespace {

constexpr size_t kChunkSamples = 16384;

void put_little_endian(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Floats as their little-endian IEEE bytes, whatever the host order.
void to_little_endian(const float* in, size_t n, uint8_t* out) {
  for (size_t i = 0; i < n; ++i) {
    uint32_t bits;
    std::memcpy(&bits, &in[i], 4);
    put_little_endian(out + 4 * i, bits);
  }
}

}  // namespace

RFIWriter::RFIWriter(const Quorvale::FileSpecification& file, int width, int height, int bands)
    : file_(file), width_(width), height_(height), bands_(bands) {
  if (width <= 0 || height <= 0 || bands <= 0)
    throw Error(format_message("Error: cannot write a %d x %d x %d RFI image.", width, height, bands));
  stream_ = file.open("wb");
  if (!stream_) throw OpenError(file.str(), "write");
  uint8_t header[12];
  put_little_endian(header, static_cast<uint32_t>(width));
  put_little_endian(header + 4, static_cast<uint32_t>(height));
  put_little_endian(header + 8, static_cast<uint32_t>(bands));
  try {
    write_bytes(header, sizeof header);
    const std::vector<uint8_t> zeros(kChunkSamples * 4, 0);
    for (uint64_t left = uint64_t(width) * height * bands; left > 0;) {
      const size_t n = left < kChunkSamples ? static_cast<size_t>(left) : kChunkSamples;
      write_bytes(zeros.data(), n * 4);
      left -= n;
    }
  } catch (...) {
    std::fclose(stream_);
    throw;
  }
}

RFIWriter::~RFIWriter() {
  if (stream_) std::fclose(stream_);
}

void RFIWriter::write_bytes(const void* data, size_t n) {
  if (std::fwrite(data, 1, n, stream_) != n) throw WriteError(file_.str());
}

void RFIWriter::write_run(int band, int row, int col, const float* samples, int n) {
  if (!stream_ || band < 0 || band >= bands_ || row < 0 || row >= height_ || col < 0 || n < 0 ||
      int64_t{col} + n > width_)
    throw Error("Error: RFI sample run outside the image.");
  const int64_t offset = 12 + 4 * ((int64_t{band} * height_ + row) * width_ + col);
  if (fseeko(stream_, offset, SEEK_SET) != 0) throw WriteError(file_.str());
  std::vector<uint8_t> bytes(static_cast<size_t>(n) * 4);
  to_little_endian(samples, n, bytes.data());
  write_bytes(bytes.data(), bytes.size());
}

void RFIWriter::write_band(int band, const float* plane) {
  for (int row = 0; row < height_; ++row)
    write_run(band, row, 0, plane + int64_t{row} * width_, width_);
}

void RFIWriter::close() {
  if (!stream_) return;
  const bool ok = std::fclose(stream_) == 0;
  stream_ = nullptr;
  if (!ok) throw WriteError(file_.str());
}

void write_rfi(const Quorvale::FileSpecification& file, int width, int height, int bands,
               const float* planes) {
  RFIWriter writer(file, width, height, bands);
  const int64_t plane = int64_t{width} * height;
  for (int k = 0; k < bands; ++k) writer.write_band(k, planes + k * plane);
  writer.close();
}
