#include "model/beta.h"

namespace vadoset {

namespace {
// volatile keeps the compiler from folding exp(-a) into a constant of its
// own rounding; the curves must use the library's exp for both terms.
double runtimeExp(double x) {
  volatile double v = x;
  return std::exp(v);
}
}  // namespace

const ExpConstants& expConstants() {
  static const ExpConstants k{runtimeExp(-5.0), runtimeExp(-4.0), runtimeExp(-3.0)};
  return k;
}

double Beta_function(double x, AvailabilityFunction function) {
  const ExpConstants& k = expConstants();
  switch (static_cast<int>(function)) {
    case 0:
      return betaCurve<0>(x, k);
    case 1:
      return betaCurve<1>(x, k);
    case 2:
      return betaCurve<2>(x, k);
    case 3:
      return betaCurve<3>(x, k);
    case 4:
      return betaCurve<4>(x, k);
    case 5:
      return betaCurve<5>(x, k);
    case 6:
      return betaCurve<6>(x, k);
    case 7:
      return betaCurve<7>(x, k);
    default:
      return 0.0;
  }
}

}  // namespace vadoset
