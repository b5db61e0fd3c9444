#include "encoder/core/rd_budget.h"

#include <algorithm>
#include <cmath>

SizeTrials::SizeTrials(double wanted, double tolerance, double base, double elasticity)
    : wanted_(wanted), tolerance_(tolerance), goal_(std::log(std::max(wanted - base, 1.0))),
      base_(base), elasticity_(elasticity) {}

bool SizeTrials::add(double budget, double file_bytes) {
  tried_.push_back({std::log(budget), std::log(std::max(file_bytes - base_, 1.0)), file_bytes});
  return miss(tried_.back()) <= tolerance_ * wanted_;
}

double SizeTrials::next_budget() const {
  std::vector<const Trial*> near;
  for (const Trial& t : tried_) near.push_back(&t);
  std::sort(near.begin(), near.end(), [this](const Trial* a, const Trial* b) {
    return std::fabs(a->y - goal_) < std::fabs(b->y - goal_);
  });
  const Trial& a = *near[0];
  double slope = elasticity_;
  for (size_t i = 1; i < near.size(); ++i) {
    if (near[i]->x == a.x || near[i]->y == a.y) continue;
    slope = std::clamp((near[i]->y - a.y) / (near[i]->x - a.x), 0.3, 3.0);
    break;
  }
  double x = a.x + (goal_ - a.y) / slope;
  double lo = -HUGE_VAL, hi = HUGE_VAL;  // budgets under and over the size
  for (const Trial& t : tried_) {
    if (t.file < wanted_)
      lo = std::max(lo, t.x);
    else
      hi = std::min(hi, t.x);
  }
  if (std::isfinite(lo) && std::isfinite(hi) && lo < hi && !(x > lo && x < hi)) x = 0.5 * (lo + hi);
  return std::exp(x);
}

double SizeTrials::nearest_budget() const { return std::exp(nearest()->x); }

double SizeTrials::miss(const Trial& t) const { return std::fabs(t.file - wanted_); }

const SizeTrials::Trial* SizeTrials::nearest() const {
  const Trial* best = &tried_.back();
  for (const Trial& t : tried_)
    if (miss(t) < miss(*best)) best = &t;
  return best;
}

LeastBudget::LeastBudget(const RdModel& model, const RdWeights& weights, const RdTarget& target,
                         double pixels)
    : model_(model), weights_(weights), target_(target), pixels_(pixels),
      all_(pixels * model.bands() * 4.0 + 1.0), kept_(HUGE_VAL) {
  target_.luma_psnr = 0.0;
  bool flat = true;
  for (int k = 1; k < model.subbands(); ++k)
    for (int b = 0; b < model.bands(); ++b) flat = flat && model.bytes(k, b, 0) == 0.0;
  if (flat) least_ = all_;
}

double LeastBudget::at_least(double budget) {
  budget = std::max(budget, 1.0);
  if (least_) return std::max(budget, *least_);
  if (budget >= kept_) return budget;
  if (coarsest_ < 0.0) coarsest_ = error_at(0.0);
  if (!(coarsest_ > 0.0) || error_at(budget) < 0.5 * coarsest_) {
    kept_ = budget;
    return budget;
  }
  double lo = std::log(budget), hi = std::log(all_);
  for (int i = 0; i < 30; ++i) {
    const double mid = 0.5 * (lo + hi);
    (error_at(std::exp(mid)) < 0.5 * coarsest_ ? hi : lo) = mid;
  }
  least_ = std::exp(hi);
  return *least_;
}

double LeastBudget::error_at(double budget) {
  target_.bytes = budget;
  return choose_steps(model_, weights_, target_, pixels_).luma_mse;
}
