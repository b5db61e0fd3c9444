// The size of a .vxl file foreseen from the image size and the target rate, before any pixel is
// read: a file cannot pass 4 GiB (its offsets are 32-bit), and finding that out at the end of
// an hour-long encoding is no way to learn it.
#pragma once

#include <cstdint>
#include <string>

// Bytes of coded output expected for `samples` samples (pixels x coded bands) at
// `bits_per_sample`, including the fixed parts of the file.
double estimated_output_bytes(int64_t samples, double bits_per_sample);
// The part of that estimate that grows with the image, per sample (for planning cells).
double estimated_bytes_per_sample(double bits_per_sample);

enum class OutputSizeVerdict { kFits, kNear, kBeyond };

// kBeyond when the estimate passes 4 GiB (it already carries the rate control's overshoot);
// kNear when it comes within a fifth of it; kFits otherwise.
OutputSizeVerdict judge_output_size(double estimated_bytes);

// The smallest compression ratio (a multiple of 5, or a whole number below 5) whose estimate
// stays clear of 4 GiB, for the refusal's advice.
double suggested_ratio(double estimated_bytes, double ratio);

// "3.72 GiB" and the like.
std::string format_gib(double bytes);
