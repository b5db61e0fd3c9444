// The two plain function pointers the driver hands down through the encoder: progress as a
// fraction from 0 to 1, and a query whose nonzero answer asks the running encoding to stop.
#pragma once

using ProgressFunction = void (*)(float fraction);
using InterruptQuery = int (*)();
