// Prints the eight availability curves as the program computes them, for the
// figure in docs/model.md: one line per relative soil water x from 0 to 1,
// x and then curves A to H, separated by tabs.

#include <charconv>
#include <cstdio>

#include "model/beta.h"

namespace {

void put(double v) {
  // The shortest text that reads back as the same double.
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  (void)ec;
  std::fwrite(buf, 1, static_cast<std::size_t>(end - buf), stdout);
}

}  // namespace

int main() {
  constexpr int kSteps = 400;
  std::fputs("x\tA\tB\tC\tD\tE\tF\tG\tH\n", stdout);
  for (int i = 0; i <= kSteps; ++i) {
    // Each x from its own division, so the grid holds 0.3, 0.5 and 0.7 exactly as the curves' constants.
    const double x = static_cast<double>(i) / static_cast<double>(kSteps);
    put(x);
    for (std::int32_t variant = 0; variant < 8; ++variant) {
      std::fputc('\t', stdout);
      put(vadoset::Beta_function(x, static_cast<vadoset::AvailabilityFunction>(variant)));
    }
    std::fputc('\n', stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
