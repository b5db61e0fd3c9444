// When the coefficients of each level are written out: level 1 after every block, level L
// after every complete group of 4^(L - 1) blocks in Morton order, everything at the end.
#pragma once

#include <cstdint>
#include <vector>

// Subband numbers to dump after block `index` (-1: after the last block), coarsest level
// first, in subband number order within a level.
std::vector<int> set_dump_list(int nlev, int64_t index);
