#include <cstdio>

int main() {
  std::fputs("vexal_encode: not built yet\n", stderr);
  return 1;
}
