// The HCN (fixed-column) reader on two whole files, then the record engine and the table's rows
// (the layout is in fuzzRecords, fuzz_support.cpp).
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vadoset::fuzz::fuzzRecords(data, size, vadoset::InputFormat::Hcn);
  return 0;
}
