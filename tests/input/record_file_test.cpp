#include "input/record_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "input/formats.h"
#include "platform/text_stream.h"
#include "test_support.h"

namespace vadoset {
namespace {

// Records read in any order are the records a run reads one after the
// other, in every format, for files with awkward line ends and records.
TEST(RecordFile, AnyOrderGivesTheRunsRecords) {
  const std::string longLine(TextInputStream::kMaxLineBytes + 10, 'x');
  const struct {
    const char* what;
    std::string bytes;
  } files[] = {
      {"byte-order mark, every line end, no final one", "\xEF\xBB\xBFhead\r\na\tb\rc\n\r\n\n\rlast"},
      {"quoted line breaks and quotes", "h,x\r\n\"a\nb\",1\r\n\"c\"\"\r\n\"\"d\",2\n\"\",\"\r\"\r\nplain,3\n"},
      {"a quote that never closes", "h\n1,2\n\"open,\n3\n4\n"},
      {"a line past the cap", "h\n" + longLine + "\r\nafter\n" + longLine},
      {"a header alone", "h\r"},
  };
  test::TempDir dir;
  std::mt19937 random(3);
  for (const auto& f : files) {
    const auto path = dir.write("f.txt", f.bytes);
    for (const InputFormatDescription& format : inputFormats()) {
      std::vector<std::string> expected;
      auto in = TextInputStream::open(path);
      while (!in->Eof()) format.nextRecord(*in, expected.emplace_back());
      std::vector<std::size_t> order(expected.size());
      for (std::size_t k = 0; k < order.size(); ++k) order[k] = order.size() - 1 - k;
      std::shuffle(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(order.size() / 2), random);
      order.insert(order.end(), {0, 1, 2});  // and some again, in order
      RecordFile file;
      ASSERT_TRUE(file.open(path, format));
      for (std::size_t k : order) {
        if (k >= expected.size()) continue;
        EXPECT_EQ(file.record(k), expected[k]) << f.what << ", " << format.cliName << ", record " << k;
      }
      EXPECT_FALSE(file.has(expected.size())) << f.what << ", " << format.cliName;
      EXPECT_EQ(file.record(expected.size()), "");
      EXPECT_FALSE(file.failed());
    }
  }
}

}  // namespace
}  // namespace vadoset
