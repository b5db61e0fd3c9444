// The two callbacks the driver hands down through the encoder: progress as a fraction from 0 to
// 1, and a query whose nonzero answer asks the running encoding to stop. Both are called from
// the thread that runs the encoding.
#pragma once

#include <functional>

using ProgressFunction = std::function<void(float fraction)>;
using InterruptQuery = std::function<int()>;
