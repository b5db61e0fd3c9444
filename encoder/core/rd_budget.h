// The budget of coded bytes the rate-distortion mode chooses its steps for, when it aims at a
// file size: the search over the files made so far, and the floor below which the steps would
// leave nothing of the image.
#pragma once

#include <optional>
#include <vector>

#include "encoder/core/rd_allocation.h"
#include "encoder/core/rd_model.h"

// The files made for a size target: each budget the steps were chosen for, and the file's
// bytes beyond the part that does not depend on the steps (`base`; the record directories do,
// as empty records are left out). Those bytes grow about as a power of the budget, so the
// next budget is found in logarithms.
class SizeTrials {
 public:
  // `tolerance`: the share of `wanted` bytes a file may miss by.
  SizeTrials(double wanted, double tolerance, double base, double elasticity);
  // Records a trial; true when its file is within the tolerance.
  bool add(double budget, double file_bytes);
  // Secant through the two trials nearest the size (at first along the elasticity), kept
  // inside the budgets known to lie on either side of it (their middle when it leaves).
  double next_budget() const;
  bool last_is_nearest() const { return nearest() == &tried_.back(); }
  double nearest_budget() const;

 private:
  struct Trial {
    double x, y, file;  // log budget, log bytes beyond the base, file bytes
  };
  double miss(const Trial& t) const;
  const Trial* nearest() const;

  double wanted_, tolerance_, goal_, base_, elasticity_;
  std::vector<Trial> tried_;
};

// Budgets raised to the least whose steps keep the image: below it a size target would be
// met by leaving out what is left of it, which answers no size. Kept: a luma error under half
// that of the coarsest steps; a flat image (nothing in any detail subband), whose low-pass is
// its only content and costs a few bytes, is kept exactly. The least budget is searched for
// only when a budget falls below one known to keep the image (extreme ratios).
class LeastBudget {
 public:
  LeastBudget(const RdModel& model, const RdWeights& weights, const RdTarget& target,
              double pixels);
  // `budget` (at least 1), or the least budget that keeps the image when it is below.
  double at_least(double budget);

 private:
  double error_at(double budget);

  const RdModel& model_;
  const RdWeights& weights_;
  RdTarget target_;
  double pixels_, all_;
  double kept_;             // the least budget known to keep the image
  double coarsest_ = -1.0;  // luma error of the coarsest steps, once needed
  std::optional<double> least_;
};
