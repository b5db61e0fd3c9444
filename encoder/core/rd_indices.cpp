#include "encoder/core/rd_indices.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <span>
#include <vector>

#include "codec/huffman_table.h"
#include "codec/symbol_alphabet.h"
#include "encoder/core/rd_model.h"
#include "encoder/writer/band_payload.h"
#include "platform/uninitialized_allocator.h"

namespace {

constexpr double kReconstructionOffset = 0.06;  // the decoder's: q > 0 comes back at q + 0.06
// The share of the bits that symbol counts say the changes save which the coder's Huffman code
// (whole bits per symbol) realises; measured on aerial frames at ratios 10 to 80.
constexpr double kRealisedSavings = 0.93;

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
  double index(int q) const {
    if (q >= -kValueRange && q <= kValueRange) return bits[size_t(q + kIndexSymbolBias)];
    const int m = std::abs(q);
    return bits[size_t(q > 0 ? (m > 255 ? kPositive16Symbol : kPositive8Symbol)
                             : (m > 255 ? kNegative16Symbol : kNegative8Symbol))];
  }
  double run(int n) const {
    if (n <= 0) return 0.0;
    if (n <= kRunRange) return bits[size_t(n)];
    return bits[size_t(n <= 255 ? kRun8Symbol : kRun16Symbol)];
  }
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

// Lowers the indices of one record where that pays; `price` is the worth of one bit in squared
// error of step-normalised units. Adds the error added, in those units, and the bits saved.
void choose(const float* values, int16_t* q, int n, float inverse_step, const SymbolBits& bits,
            double price, double& added_error, double& saved_bits) {
  int before = 0;  // zeros just before position i
  int next = 0;    // the first non-zero at or after the position searched from
  for (int i = 0; i < n; ++i) {
    const int index = q[i];
    if (index == 0) {
      ++before;
      continue;
    }
    const int m = std::abs(index);
    const double a = std::fabs(values[i]) * inverse_step;
    if (m == 1) {
      if (next <= i) {
        next = i + 1;
        while (next < n && q[next] == 0) ++next;
      }
      const int after = next - i - 1;
      const double saved =
          bits.run(before) + bits.index(index) + bits.run(after) - bits.run(before + 1 + after);
      const double e = a - (1.0 + kReconstructionOffset);
      const double added = a * a - e * e;
      if (added < price * saved) {
        q[i] = 0;
        ++before;
        added_error += added;
        saved_bits += saved;
        continue;
      }
    } else {
      const int lower = index > 0 ? index - 1 : index + 1;
      const double saved = bits.index(index) - bits.index(lower);
      const double e0 = a - (m + kReconstructionOffset), e1 = a - (m - 1 + kReconstructionOffset);
      if (saved > 0.0 && e1 * e1 - e0 * e0 < price * saved) {
        q[i] = int16_t(lower);
        added_error += e1 * e1 - e0 * e0;
        saved_bits += saved;
      }
    }
    before = 0;
  }
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

std::array<double, kAlphabetSize> counts_of(Gathered& g) {
  SymbolCounts counts;
  for (size_t i = 0; i < g.pieces(); ++i) count_symbols(g.piece(i), kValueRange, kRunRange, counts);
  std::array<double, kAlphabetSize> c{};
  for (int s = 0; s < kAlphabetSize; ++s) c[size_t(s)] = double(counts.count[size_t(s)]);
  return c;
}

// One pass over gathered pieces, pricing the symbols by the whole part's `counts`. When the
// pieces are a sample (`share` of the part), `effect` gets the part's bits before, and after
// less the bits each change saved at those prices, scaled up (an estimate that sampling leaves
// unbiased) and by what a Huffman code realises; and the error added, scaled up.
void choose_all(Gathered& g, float step, double error_per_byte,
                const std::array<double, kAlphabetSize>& counts, double share,
                RdIndexEffect* effect) {
  const double price = error_per_byte / (double(step) * step) / 8.0;
  const SymbolBits bits(counts);
  double added_error = 0.0, saved_bits = 0.0;
  for (size_t i = 0; i < g.pieces(); ++i) {
    const std::span<int16_t> q = g.piece(i);
    choose(g.values.data() + g.starts[i], q.data(), int(q.size()), 1.0f / step, bits, price,
           added_error, saved_bits);
  }
  if (effect) {
    effect->bits_before += bits.total_bits;
    effect->bits_after += bits.total_bits - kRealisedSavings * saved_bits / share;
    effect->added_error += added_error * double(step) * step / share;
  }
}

}  // namespace

void rd_choose_indices(const float* values, int w, int h, float step, double error_per_byte,
                       int16_t* indices) {
  if (!(error_per_byte > 0.0) || !(step > 0.0f)) return;
  const std::vector<Piece> pieces = pieces_of(w, h, {});
  Gathered g(values, w, pieces);
  for (size_t i = 0; i < pieces.size(); ++i) gather(indices, w, pieces[i], g.piece(i).data());
  choose_all(g, step, error_per_byte, counts_of(g), 1.0, nullptr);
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
  // Priced by the sample's symbols, which stand for the part's.
  const double share = double(g.values.size()) / area;
  std::array<double, kAlphabetSize> counts = counts_of(g);
  for (double& c : counts) c /= share;
  choose_all(g, step, error_per_byte, counts, share, &effect);
  return effect;
}
