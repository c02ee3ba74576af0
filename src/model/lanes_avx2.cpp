// The lane kernels for AVX2: 8 vectors of 4 lanes. Compiled with -mavx2
// (and never run on a CPU without it); only the exponential's copy uses FMA.
#include "model/lane_kernel.h"

namespace vadoset::lanes {

const KernelSet& avx2Kernels() {
  static const KernelSet set = makeKernelSet<V256, 8>();
  return set;
}

}  // namespace vadoset::lanes
