// The HCN (fixed-column) record reader, then the computation and the row writer.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vadoset::fuzz::fuzzRecords(data, size, 1);
  return 0;
}
