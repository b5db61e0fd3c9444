#include "encoder/core/rd_indices.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "codec/symbol_alphabet.h"
#include "encoder/core/rd_model.h"
#include "encoder/writer/band_payload.h"
#include "platform/avx2_clones.h"
#include "platform/uninitialized_allocator.h"

namespace {

constexpr double kReconstructionOffset = 0.06;  // the decoder's: q > 0 comes back at q + 0.06
// The share of the bits that symbol counts say the changes save which the coder's Huffman code
// (whole bits per symbol) realises; measured on aerial frames at ratios 10 to 80.
constexpr double kRealisedSavings = 0.93;
// Indices the choice may make zero, and how many of them a zero run may swallow at once.
constexpr int kZeroable = 2;
constexpr int kLookBack = 16;

// The alphabet's symbol of index q (not zero) and of a run of n zeros (0 < n <= kMaxRun).
inline int index_symbol(int q) {
  if (q >= -kValueRange && q <= kValueRange) return q + kIndexSymbolBias;
  const int m = std::abs(q);
  return q > 0 ? (m > 255 ? kPositive16Symbol : kPositive8Symbol)
               : (m > 255 ? kNegative16Symbol : kNegative8Symbol);
}
inline int run_symbol(int n) {
  if (n <= kRunRange) return n;
  return n <= 255 ? kRun8Symbol : kRun16Symbol;
}

// Bits of every symbol of the alphabet under a code fitted to `counts`, escapes' extra bits
// included; a symbol not seen yet is priced as rarer than any seen.
struct SymbolBits {
  std::array<double, kAlphabetSize> bits{};
  double total_bits = 0.0;  // of the symbols counted

  explicit SymbolBits(const std::array<double, kAlphabetSize>& counts) {
    double total = 0.0;
    for (double c : counts) total += c;
    for (int s = 0; s < kAlphabetSize; ++s) {
      const double c = std::max(counts[size_t(s)], 0.5);
      bits[size_t(s)] = std::max(1.0, std::log2((total + 1.0) / c));
    }
    for (int s : {kPositive8Symbol, kNegative8Symbol, kRun8Symbol}) bits[size_t(s)] += 8.0;
    for (int s : {kPositive16Symbol, kNegative16Symbol, kRun16Symbol}) bits[size_t(s)] += 16.0;
    for (int s = 0; s < kAlphabetSize; ++s)
      if (counts[size_t(s)] > 0.0) total_bits += counts[size_t(s)] * bits[size_t(s)];
  }
  double index(int q) const { return bits[size_t(index_symbol(q))]; }
  double run(int n) const { return n <= 0 ? 0.0 : bits[size_t(run_symbol(n))]; }
};

// Where the indices of a piece are not zero, 64 to a word (bit j of word w: index 64 w + j):
// most zeros lie in long runs, which are then passed a word at a time.
VEXAL_AVX2_CLONES
void fill_nonzero_bits(const int16_t* q, int n, uint64_t* words) {
  constexpr uint64_t kGather = 0x0102040810204080ull;  // 8 bytes of 0 or 1 into one byte's bits
  static_assert(std::endian::native == std::endian::little, "flag j is byte j of its word");
  uint8_t flags[64];
  for (int base = 0; base < n; base += 64) {
    const int count = std::min(64, n - base);
    if (count == 64) {
      for (int j = 0; j < 64; ++j) flags[j] = uint8_t(q[base + j] != 0);
    } else {
      for (int j = 0; j < 64; ++j) flags[j] = uint8_t(j < count && q[base + j] != 0);
    }
    uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) {
      uint64_t x;
      std::memcpy(&x, flags + 8 * k, sizeof x);
      bits |= (x * kGather) >> 56 << (8 * k);
    }
    words[base / 64] = bits;
  }
}

// The bits of one piece; they live in the thread's buffer, so one at a time per thread.
class NonzeroBits {
 public:
  NonzeroBits(const int16_t* q, int n) : n_(n), count_(size_t(n + 63) / 64) {
    thread_local std::vector<uint64_t> words;
    words.resize(count_);
    fill_nonzero_bits(q, n, words.data());
    words_ = words.data();
  }
  // The first index from `i` (<= n) on that was not zero when filled, or n.
  int next(int i) const {
    size_t w = size_t(i) >> 6;
    if (w >= count_) return n_;
    uint64_t bits = words_[w] & (~uint64_t(0) << (i & 63));
    while (bits == 0) {
      if (++w == count_) return n_;
      bits = words_[w];
    }
    return int(w * 64 + size_t(std::countr_zero(bits)));
  }

 private:
  int n_;
  size_t count_;
  const uint64_t* words_;
};

// One record's indices in scan order, gathered from and put back into the plane.
struct Piece {
  int x0, y0, x1, y1;
};

void gather(const int16_t* plane, int w, const Piece& p, int16_t* out) {
  for (int y = p.y0; y < p.y1; ++y)
    out = std::copy(plane + size_t(y) * size_t(w) + p.x0, plane + size_t(y) * size_t(w) + p.x1, out);
}

void scatter(const int16_t* in, int w, const Piece& p, int16_t* plane) {
  for (int y = p.y0; y < p.y1; ++y) {
    std::copy_n(in, p.x1 - p.x0, plane + size_t(y) * size_t(w) + p.x0);
    in += p.x1 - p.x0;
  }
}

void gather(const float* plane, int w, const Piece& p, float* out) {
  for (int y = p.y0; y < p.y1; ++y)
    out = std::copy(plane + size_t(y) * size_t(w) + p.x0, plane + size_t(y) * size_t(w) + p.x1, out);
}

// Squared error, in steps, of magnitude `a` coded as index magnitude `m`.
inline double error_of(double a, int m) {
  const double e = m == 0 ? a : a - (m + kReconstructionOffset);
  return e * e;
}

// A non-zero index of the record and what coding it costs.
struct Candidate {
  int position, index;
  double zeroed;  // error as zero
  double kept;    // least error + price x bits kept, as `kept_index` (itself or one lower)
  int kept_index;
  double best;  // least cost of the record from the last index that stays, this one kept
  int from;     // the candidate kept before it on that path (-1: the one that stays)
};

// Chooses which of `group` (the indices that may become zero between `anchor`, the last
// index that stays or -1, and `end`, the next one or the record's end) stay: a shortest path
// from one kept index to the next, paying the zero run between, the indices it zeroes and the
// kept one's symbol, looking back over at most kLookBack of them. Writes the choice into `q`
// and returns the error it leaves.
double choose_group(std::vector<Candidate>& group, int anchor, int end, int16_t* q,
                    const SymbolBits& bits, double price) {
  const auto path_to = [&](int k, int position, double own) {
    double best = HUGE_VAL, zeroed = 0.0;  // zeroed: the error of the candidates skipped
    int from = -1;
    for (int j = k - 1;; --j) {
      const int start = j >= 0 ? group[size_t(j)].position + 1 : anchor + 1;
      const double cost = (j >= 0 ? group[size_t(j)].best : 0.0) + zeroed +
                          price * bits.run(position - start) + own;
      if (cost < best) best = cost, from = j;
      if (j < 0 || k - j > kLookBack) break;
      zeroed += group[size_t(j)].zeroed;
    }
    return std::pair{best, from};
  };
  for (size_t k = 0; k < group.size(); ++k)
    std::tie(group[k].best, group[k].from) = path_to(int(k), group[k].position, group[k].kept);
  int kept = path_to(int(group.size()), end, 0.0).second;
  double error = 0.0;
  for (int k = int(group.size()) - 1; k >= 0; --k) {
    const Candidate& c = group[size_t(k)];
    if (k == kept) {
      q[c.position] = int16_t(c.kept_index);
      error += c.kept - price * bits.index(c.kept_index);
      kept = c.from;
    } else {
      q[c.position] = 0;
      error += c.zeroed;
    }
  }
  group.clear();
  return error;
}

// Lowers the indices of one record where that pays; `price` is the worth of one bit in squared
// error of step-normalised units. Returns the error added, in those units.
//
// Each index is kept (as itself or one lower) or, when at most kZeroable, made zero, which
// joins the zero runs on either side. Zeroing indices saves their symbols and the runs around
// them (the run they join costs bits again): an index whose error grows by more than its
// symbol and the two runs beside it are worth stays, and splits the record into groups that
// are chosen apart.
double choose(const float* values, int16_t* q, int n, float inverse_step, const SymbolBits& bits,
              double price) {
  thread_local std::vector<Candidate> group;
  group.clear();
  const NonzeroBits nonzero(q, n);  // indices only ahead of the one in hand are read from it
  const auto next_from = [&nonzero](int i) { return nonzero.next(i); };
  double added = 0.0;
  int anchor = -1, previous = -1;
  for (int i = next_from(0); i < n;) {
    const int next = next_from(i + 1);
    const int m = std::abs(q[i]);
    const double a = std::fabs(values[i]) * inverse_step;
    Candidate c{i, q[i], a * a, error_of(a, m) + price * bits.index(q[i]), q[i], 0.0, -1};
    if (m > 1) {
      const int lower = q[i] > 0 ? q[i] - 1 : q[i] + 1;
      const double cost = error_of(a, m - 1) + price * bits.index(lower);
      if (cost < c.kept) c.kept = cost, c.kept_index = lower;
    }
    added -= error_of(a, m);
    if (m <= kZeroable &&
        c.zeroed - error_of(a, m) <
            price * (bits.index(q[i]) + bits.run(i - previous - 1) + bits.run(next - i - 1))) {
      group.push_back(c);
    } else {
      if (!group.empty()) added += choose_group(group, anchor, i, q, bits, price);
      q[i] = int16_t(c.kept_index);
      added += c.kept - price * bits.index(c.kept_index);
      anchor = i;
    }
    previous = i;
    i = next;
  }
  return group.empty() ? added : added + choose_group(group, anchor, n, q, bits, price);
}

// The pieces of a w x h plane in the writer's order; `take` picks some (all when empty).
std::vector<Piece> pieces_of(int w, int h, const std::function<bool(size_t)>& take) {
  std::vector<Piece> pieces;
  size_t number = 0;
  for (int y0 = 0; y0 < h; y0 += kRecordSize)
    for (int x0 = 0; x0 < w; x0 += kRecordSize)
      if (!take || take(number++))
        pieces.push_back({x0, y0, std::min(x0 + kRecordSize, w), std::min(y0 + kRecordSize, h)});
  return pieces;
}

// The pieces' values and indices, each piece in scan order, one after the other.
struct Gathered {
  platform::FloatBuffer values;  // both filled in full before they are read
  std::vector<int16_t, platform::UninitializedAllocator<int16_t>> indices;
  std::vector<size_t> starts;  // of each piece, and the end

  Gathered(const float* plane, int w, const std::vector<Piece>& pieces) {
    size_t n = 0;
    for (const Piece& p : pieces) n += size_t(p.x1 - p.x0) * size_t(p.y1 - p.y0);
    values.resize(n);
    indices.resize(n);
    starts.push_back(0);
    for (const Piece& p : pieces) {
      gather(plane, w, p, values.data() + starts.back());
      starts.push_back(starts.back() + size_t(p.x1 - p.x0) * size_t(p.y1 - p.y0));
    }
  }
  size_t pieces() const { return starts.size() - 1; }
  std::span<int16_t> piece(size_t i) {
    return {indices.data() + starts[i], starts[i + 1] - starts[i]};
  }
};

// The symbols the coder would count in the pieces, found from the indices that are not zero.
std::array<double, kAlphabetSize> counts_of(Gathered& g) {
  static_assert(kRecordSize * kRecordSize <= kMaxRun, "a piece's zero run is one symbol");
  std::array<uint64_t, kAlphabetSize> counts{};
  for (size_t p = 0; p < g.pieces(); ++p) {
    const int16_t* q = g.piece(p).data();
    const int n = int(g.piece(p).size());
    const NonzeroBits nonzero(q, n);
    int previous = -1;
    for (int i = nonzero.next(0); i < n; i = nonzero.next(i + 1)) {
      if (i - previous > 1) ++counts[size_t(run_symbol(i - previous - 1))];
      ++counts[size_t(index_symbol(q[i]))];
      previous = i;
    }
    if (n - previous > 1) ++counts[size_t(run_symbol(n - previous - 1))];
  }
  std::array<double, kAlphabetSize> c{};
  for (int s = 0; s < kAlphabetSize; ++s) c[size_t(s)] = double(counts[size_t(s)]);
  return c;
}

// Lowers indices of all gathered pieces, pricing the symbols by `counts`; adds the squared
// error added, in step-normalised units.
double choose_all(Gathered& g, float step, double error_per_byte,
                  const std::array<double, kAlphabetSize>& counts) {
  const double price = error_per_byte / (double(step) * step) / 8.0;
  const SymbolBits bits(counts);
  double added_error = 0.0;
  for (size_t i = 0; i < g.pieces(); ++i) {
    const std::span<int16_t> q = g.piece(i);
    added_error += choose(g.values.data() + g.starts[i], q.data(), int(q.size()), 1.0f / step,
                          bits, price);
  }
  return added_error;
}

}  // namespace

void rd_choose_indices(const float* values, int w, int h, float step, double error_per_byte,
                       int16_t* indices) {
  if (!(error_per_byte > 0.0) || !(step > 0.0f)) return;
  const std::vector<Piece> pieces = pieces_of(w, h, {});
  Gathered g(values, w, pieces);
  for (size_t i = 0; i < pieces.size(); ++i) gather(indices, w, pieces[i], g.piece(i).data());
  choose_all(g, step, error_per_byte, counts_of(g));
  for (size_t i = 0; i < pieces.size(); ++i) scatter(g.piece(i).data(), w, pieces[i], indices);
}

RdIndexEffect rd_index_effect(const float* values, int w, int h, float step,
                              double error_per_byte, const std::function<bool(size_t)>& take) {
  RdIndexEffect effect;
  if (!(error_per_byte > 0.0) || !(step > 0.0f)) return effect;
  const std::vector<Piece> pieces = pieces_of(w, h, take);
  if (pieces.empty()) return effect;
  Gathered g(values, w, pieces);
  if (!rd_quantize_all(g.values.data(), g.values.size(), step, g.indices.data())) return effect;
  const double area = double(w) * double(h);
  effect.coefficients = area;
  // Priced by the sample's symbols, which stand for the part's; scaled up, the sample's bits
  // and error stand for the part's (estimates that sampling leaves unbiased).
  const double share = double(g.values.size()) / area;
  std::array<double, kAlphabetSize> counts = counts_of(g);
  for (double& c : counts) c /= share;
  const double before = SymbolBits(counts).total_bits;
  const double added = choose_all(g, step, error_per_byte, counts);
  counts = counts_of(g);
  for (double& c : counts) c /= share;
  effect.bits_before = before;
  effect.bits_after = before - kRealisedSavings * (before - SymbolBits(counts).total_bits);
  effect.added_error = added * double(step) * step / share;
  return effect;
}
