// The CSV reader (quoted fields over several lines, semicolons with decimal
// commas, a field_capacity column) on two whole files, then the record
// engine and the table's rows; the records read are written back as CSV and
// must read the same again (the layout is in fuzzRecords, fuzz_support.cpp).
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vadoset::fuzz::fuzzRecords(data, size, vadoset::InputFormat::Csv);
  return 0;
}
