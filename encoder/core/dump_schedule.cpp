#include "encoder/core/dump_schedule.h"

std::vector<int> set_dump_list(int nlev, int64_t index) {
  std::vector<int> list;
  for (int level = nlev; level >= 1; --level) {
    const int64_t group = int64_t(1) << (2 * (level - 1));
    if ((index + 1) % group != 0) continue;
    const int first = 3 * (nlev - level) + 1;
    if (level == nlev) list.push_back(0);
    for (int k = first; k < first + 3; ++k) list.push_back(k);
  }
  return list;
}
