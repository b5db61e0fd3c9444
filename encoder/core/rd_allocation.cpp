#include "encoder/core/rd_allocation.h"

#include <algorithm>
#include <cmath>

#include "codec/lifting97.h"
#include "encoder/core/subband_tree.h"

namespace {

// Energy of the one-dimensional synthesis of a unit coefficient in the low (high = false) or
// high band at `depth`: the coefficient is put mid-line and synthesised back to the samples.
double line_gain(int depth, bool high) {
  constexpr int kLength = 2048;
  std::vector<float> line(size_t(kLength >> (depth - 1)), 0.0f);
  line[line.size() / 2 + (high ? 1 : 0)] = 1.0f;
  for (int level = depth;; --level) {
    lift97_inverse(line.data(), 0, int(line.size()), LineEnd::kSymmetric, LineEnd::kSymmetric);
    if (level == 1) break;
    std::vector<float> finer(line.size() * 2, 0.0f);
    for (size_t i = 0; i < line.size(); ++i) finer[2 * i] = line[i];
    line.swap(finer);
  }
  double e = 0.0;
  for (float v : line) e += double(v) * v;
  return e;
}

struct Term {
  double weight;  // of the squared coefficient error in the error minimised
  double gain;    // synthesis gain alone: the error it puts into its own band's pixels
  double colour;  // and the colour gain on top: the error in R, G and B
  int k, b;
};

struct Solution {
  std::vector<int> rungs;
  double bytes = 0.0, weighted = 0.0, luma = 0.0;
};

class Solver {
 public:
  Solver(const RdModel& m, std::vector<Term> terms) : m_(m), terms_(std::move(terms)) {
    for (const Term& t : terms_) hulls_.push_back(hull_of(t));
  }

  // The rung of each term with the least weighted error plus lambda times bytes: only the
  // rungs on the lower convex hull of (bytes, weighted error) can be that rung, a few of the
  // ladder's, so the search over lambda costs little.
  Solution at(double lambda) const {
    Solution s;
    s.rungs.reserve(terms_.size());
    for (size_t i = 0; i < terms_.size(); ++i) {
      int best = kRdRungs - 1;
      double best_cost = HUGE_VAL;
      for (const Point& p : hulls_[i]) {
        const double cost = p.error + lambda * p.bytes;
        if (cost < best_cost || (cost == best_cost && p.rung < best)) best = p.rung, best_cost = cost;
      }
      s.rungs.push_back(best);
      add(s, terms_[i], best, 1.0);
    }
    return s;
  }
  // Adds `share` of term t at rung j to the totals of s.
  void add(Solution& s, const Term& t, int j, double share) const {
    s.bytes += share * m_.bytes(t.k, t.b, j);
    const double e = share * m_.squared_error(t.k, t.b, j);
    s.weighted += t.weight * e;
    if (t.b == 0) s.luma += t.gain * e;
  }
  const std::vector<Term>& terms() const { return terms_; }

 private:
  struct Point {
    double bytes, error;  // error weighted
    int rung;
  };
  std::vector<Point> hull_of(const Term& t) const {
    std::vector<Point> points;
    for (int j = 0; j < kRdRungs; ++j)
      points.push_back({m_.bytes(t.k, t.b, j), t.weight * m_.squared_error(t.k, t.b, j), j});
    std::sort(points.begin(), points.end(), [](const Point& a, const Point& b) {
      return a.bytes != b.bytes ? a.bytes < b.bytes
                                : (a.error != b.error ? a.error < b.error : a.rung < b.rung);
    });
    std::vector<Point> hull;
    for (const Point& p : points) {
      if (!hull.empty() && hull.back().bytes == p.bytes) continue;  // a worse one of the same bytes
      while (hull.size() >= 2) {
        const Point& a = hull[hull.size() - 2];
        const Point& b = hull.back();
        // b is not below the line from a to p: no lambda prefers it to both.
        if ((b.error - a.error) * (p.bytes - a.bytes) < (p.error - a.error) * (b.bytes - a.bytes))
          break;
        hull.pop_back();
      }
      hull.push_back(p);
    }
    return hull;
  }

  const RdModel& m_;
  std::vector<Term> terms_;
  std::vector<std::vector<Point>> hulls_;
};

}  // namespace

double synthesis_gain(int k, int nlev) {
  const int depth = subband_depth(k, nlev);
  const int child = subband_child_index(k);
  return line_gain(depth, child / 2 == 1) * line_gain(depth, child % 2 == 1);
}

double colour_gain(int band) {
  // The forward transform of the colour planes (rows Y, I, Q of R, G, B), inverted.
  const double a[3][3] = {{0.3, 0.6, 0.1}, {0.6, -0.28, -0.32}, {0.21, -0.53, 0.32}};
  if (band < 0 || band > 2) return 1.0;
  const double det = a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) -
                     a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
                     a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]);
  double sum = 0.0;
  for (int c = 0; c < 3; ++c) {
    // Entry (c, band) of the inverse: cofactor (band, c) / det.
    const int r0 = band == 0 ? 1 : 0, r1 = band == 2 ? 1 : 2;
    const int c0 = c == 0 ? 1 : 0, c1 = c == 2 ? 1 : 2;
    const double minor = a[r0][c0] * a[r1][c1] - a[r0][c1] * a[r1][c0];
    const double v = ((band + c) % 2 ? -minor : minor) / det;
    sum += v * v;
  }
  return sum;
}

RdChoice choose_steps(const RdModel& model, const RdWeights& w, const RdTarget& target,
                      double pixels) {
  std::vector<Term> terms;
  for (int k = 0; k < model.subbands(); ++k) {
    const int depth = subband_depth(k, w.nlev);
    const double gain = synthesis_gain(k, w.nlev);
    for (int b = 0; b < model.bands(); ++b) {
      const double colour = w.colour ? colour_gain(b) : 1.0;
      double weight = gain * colour;
      if (w.perceptual) {
        const double p = (b == 0 ? w.weight : 1.0) * std::pow(double(w.gamma), depth);
        weight *= p * p;
      }
      terms.push_back({weight, gain, colour, k, b});
    }
  }
  const Solver solver(model, terms);
  // A larger lambda buys fewer bytes and more error; search its logarithm.
  double lo = -40.0, hi = 40.0;
  auto too_big = [&](const Solution& s) {
    if (target.luma_psnr > 0.0) {
      const double mse = 255.0 * 255.0 * std::pow(10.0, -target.luma_psnr / 10.0);
      return s.luma / pixels < mse;  // better than asked: can spend less
    }
    return s.bytes > target.bytes;
  };
  Solution below = solver.at(std::exp(hi)), above = solver.at(std::exp(lo));
  for (int i = 0; i < 80; ++i) {
    const double mid = 0.5 * (lo + hi);
    Solution s = solver.at(std::exp(mid));
    if (too_big(s)) {
      lo = mid;
      above = std::move(s);
    } else {
      hi = mid;
      below = std::move(s);
    }
  }
  // Between the two neighbouring solutions only a few terms differ; their rungs are
  // interpolated so that the estimate meets the target rather than one rung below it.
  // A PSNR target takes the side that meets it: where one term decides (a flat image's
  // low-pass), the other side may zero the whole image.
  double t = 1.0;
  if (target.luma_psnr <= 0.0)
    t = above.bytes > below.bytes
            ? std::clamp((target.bytes - below.bytes) / (above.bytes - below.bytes), 0.0, 1.0)
            : 0.0;
  RdChoice choice;
  Solution total;
  const double lambda = std::exp(0.5 * (lo + hi));
  for (size_t i = 0; i < terms.size(); ++i) {
    const int a = above.rungs[i], b = below.rungs[i];
    choice.steps.push_back(float(rd_rung_step(b + t * (a - b))));
    choice.error_per_byte.push_back(lambda / terms[i].weight);
    choice.term_bytes.push_back(t * model.bytes(terms[i].k, terms[i].b, a) +
                                (1.0 - t) * model.bytes(terms[i].k, terms[i].b, b));
    solver.add(total, terms[i], a, t);
    solver.add(total, terms[i], b, 1.0 - t);
  }
  choice.bytes = total.bytes;
  choice.luma_mse = total.luma / pixels;
  double rgb = 0.0;
  for (size_t i = 0; i < terms.size(); ++i) {
    const Term& term = terms[i];
    const double e = t * model.squared_error(term.k, term.b, above.rungs[i]) +
                     (1.0 - t) * model.squared_error(term.k, term.b, below.rungs[i]);
    rgb += term.gain * term.colour * e;
  }
  choice.rgb_mse = rgb / (pixels * model.bands());
  return choice;
}
