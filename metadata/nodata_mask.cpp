#include "metadata/nodata_mask.h"

#include <algorithm>

#include "platform/error.h"

namespace {

void put_number(std::vector<uint8_t>& out, uint64_t v) {
  do {
    uint8_t byte = v & 0x7F;
    v >>= 7;
    out.push_back(v ? byte | 0x80 : byte);
  } while (v);
}

struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  uint64_t number(uint64_t limit) {
    uint64_t v = 0;
    for (int shift = 0; shift < 63; shift += 7) {
      if (p == end) break;
      const uint8_t byte = *p++;
      v |= uint64_t(byte & 0x7F) << shift;
      if (!(byte & 0x80)) {
        if (v > limit) break;
        return v;
      }
    }
    throw Error("Error: damaged nodata mask record.");
  }
};

constexpr uint64_t kMaxSide = 1u << 30;

}  // namespace

NodataMask::NodataMask(int width, int height)
    : width_(width), height_(height), rows_(size_t(std::max(height, 0))) {}

void NodataMask::add_run(int y, int x0, int x1) {
  std::vector<Run>& row = rows_[size_t(y)];
  // Blocks arrive in any order, so a run may fall anywhere in the row: insert, then merge the
  // neighbours it touches.
  auto at = std::lower_bound(row.begin(), row.end(), x0,
                             [](const Run& r, int x) { return r.x1 + 1 < x; });
  auto last = at;
  while (last != row.end() && last->x0 <= x1 + 1) {
    x0 = std::min(x0, last->x0);
    x1 = std::max(x1, last->x1);
    ++last;
  }
  at = row.erase(at, last);
  row.insert(at, Run{x0, x1});
}

bool NodataMask::is_nodata(int x, int y) const {
  if (y < 0 || y >= height_) return false;
  const std::vector<Run>& row = rows_[size_t(y)];
  auto it = std::lower_bound(row.begin(), row.end(), x,
                             [](const Run& r, int v) { return r.x1 < v; });
  return it != row.end() && it->x0 <= x;
}

bool NodataMask::empty() const {
  for (const auto& row : rows_)
    if (!row.empty()) return false;
  return true;
}

std::vector<uint8_t> NodataMask::encode() const {
  std::vector<uint8_t> out;
  put_number(out, uint64_t(width_));
  put_number(out, uint64_t(height_));
  for (const auto& row : rows_) {
    put_number(out, row.size());
    int end = 0;
    for (const Run& r : row) {
      put_number(out, uint64_t(r.x0 - end));
      put_number(out, uint64_t(r.x1 - r.x0 + 1));
      end = r.x1 + 1;
    }
  }
  return out;
}

NodataMask NodataMask::decode(const uint8_t* data, size_t size) {
  Reader in{data, data + size};
  const int width = int(in.number(kMaxSide));
  const int height = int(in.number(kMaxSide));
  // Every row takes at least one byte: a damaged height cannot make a huge allocation.
  if (uint64_t(height) > uint64_t(in.end - in.p)) throw Error("Error: damaged nodata mask record.");
  NodataMask mask(width, height);
  for (int y = 0; y < height; ++y) {
    const uint64_t runs = in.number(uint64_t(width));
    std::vector<Run>& row = mask.rows_[size_t(y)];
    uint64_t end = 0;
    for (uint64_t k = 0; k < runs; ++k) {
      const uint64_t x0 = end + in.number(uint64_t(width));
      const uint64_t length = in.number(uint64_t(width));
      if (length == 0 || x0 + length > uint64_t(width))
        throw Error("Error: damaged nodata mask record.");
      row.push_back(Run{int(x0), int(x0 + length - 1)});
      end = x0 + length;
    }
  }
  return mask;
}
