// A whole run on two arbitrary input files with settings chosen by the input:
// one thread, with its files in a folder of its own. Whatever the bytes, the
// run ends with a table or a message, the inputs stay as they were, a refused
// or failed run leaves an earlier table alone, and no temporary file is left.
// A run stops after 200 rows, so that inputs of megabytes finish in a
// bounded time.
//
// Input: byte 0 bits 5-7 where the table goes (OutputKind), then the layout
// of decodeRun (fuzz_support.h): byte 0 bits 0-4 format, carry-over,
// fraction, field capacity field; bytes 1-4 function, field capacity,
// latitude, columns; bytes 5-8 the precipitation file's length; the files.
#include <iterator>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace vadoset::fuzz;
  ByteReader in(data, size);
  RunInput input = decodeRun(in);
  const int kinds = static_cast<int>(OutputKind::Count);
  input.kind = static_cast<OutputKind>((size > 0 ? data[0] >> 5 : 0) % kinds);
  runOnce(input, vadoset::RunConfig::Parallel{});
  return 0;
}
