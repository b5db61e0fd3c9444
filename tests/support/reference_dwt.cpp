#include "reference_dwt.h"

#include "support/wavelet_reference.h"

namespace vexal_test {

std::vector<ReferenceSubband> reference_dwt97(const std::vector<double>& plane, int width,
                                              int height, int nlev) {
  const std::vector<wavelet_reference::Plane> bands =
      wavelet_reference::decompose(wavelet_reference::Plane{width, height, plane}, nlev);
  std::vector<ReferenceSubband> out;
  for (const wavelet_reference::Plane& b : bands) out.push_back({b.width, b.height, b.v});
  return out;
}

}  // namespace vexal_test
