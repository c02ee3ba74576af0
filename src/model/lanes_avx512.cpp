// The lane kernels for AVX-512: 4 vectors of 8 lanes. Compiled with
// -mavx512f (and never run on a CPU without it).
#include "model/lane_kernel.h"

namespace vadoset::lanes {

const KernelSet& avx512Kernels() {
  static const KernelSet set = makeKernelSet<V512, 4>();
  return set;
}

}  // namespace vadoset::lanes
