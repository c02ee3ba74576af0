#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "input/formats.h"
#include "platform/text_stream.h"
#include "run/run.h"
#include "test_support.h"

namespace vadoset {
namespace {

// Records as nextRecord gives them from a file, and the lines it counts as cut.
std::vector<std::string> records(const test::TempDir& dir, const std::string& bytes, std::uint64_t* cut = nullptr) {
  std::unique_ptr<TextInputStream> in = TextInputStream::open(dir.write("f.csv", bytes));
  std::vector<std::string> out;
  while (!in->Eof()) {
    out.emplace_back();
    kCsvFormat.nextRecord(*in, out.back());
  }
  if (cut != nullptr) *cut = in->linesCut();
  return out;
}

TEST(CsvFormat, RecordsSpanLinesWhileAQuoteIsOpen) {
  test::TempDir dir;
  using V = std::vector<std::string>;
  const std::vector<std::pair<std::string, V>> cases = {
      {"a,\"x\r\ny\",1\r\nb,2\r\n", V{"a,\"x\ny\",1", "b,2"}},
      {"\xEF\xBB\xBF\"x\ry\"\"\r\"\"z\",1\rb\r", V{"\"x\ny\"\"\n\"\"z\",1", "b"}},
      {"a;\"\n\n\";1\nb,\"\"\"\",c\n", V{"a;\"\n\n\";1", "b,\"\"\"\",c"}},
      {"a,b\"c\nd\n", V{"a,b\"c", "d"}},
      {"a,\"never closed\nb\nc", V{"a,\"never closed\nb\nc"}},
  };
  std::uint64_t cut = 0;
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(records(dir, bytes, &cut), expected) << bytes;
    EXPECT_EQ(cut, 0u) << bytes;  // a quote open at the end of the file cuts nothing
  }

  // A stray quote takes lines up to the length cap of one line, no further,
  // and the record counts as a cut line, so that the run warns of it.
  const std::string line(1 << 20, 'x');
  std::string big = "\"stray\n";
  for (int i = 0; i < 17; ++i) big += line + "\n";
  big += "last,1\n";
  const std::vector<std::string> got = records(dir, big, &cut);
  EXPECT_EQ(cut, 1u);
  ASSERT_GE(got.size(), 3u);
  EXPECT_LT(got.front().size(), TextInputStream::kMaxLineBytes + line.size() + 2);
  EXPECT_EQ(got.back(), "last,1");
}

// Null rows name the record's line, counting the lines inside quotes.
class NullLines : public RunObserver {
 public:
  std::vector<std::pair<std::uint64_t, std::string>> nulls;
  void nullRow(const NullRow& n) override { nulls.emplace_back(n.line, n.reasonText()); }
};

TEST(CsvFormat, NullRowsNameTheirLine) {
  test::TempDir dir;
  const std::string months = ",1,2,3,4,5,6,7,8,9,10,11,12\n";
  dir.write("t.csv", "h\n\"a\"" + months + "b" + months + "c" + months);
  dir.write("p.csv", "h\n\"a\nb\",10,\"x\ny\"" + months + "b,95" + months + "\"c\r\n\",10,1,NA" + months);
  NullLines observer;
  Settings settings;
  settings.format = InputFormat::Csv;
  settings.tmeanFile = "t.csv";
  settings.precipFile = "p.csv";
  settings.outputFile = "out.txt";
  const RunResult r = runTable(makeRunConfig(settings, dir.path().string(), dir.path().string()), observer);
  ASSERT_EQ(r.outcome, RunOutcome::Completed) << (r.problems.empty() ? "" : r.problems[0].message());
  using N = std::vector<std::pair<std::uint64_t, std::string>>;
  EXPECT_EQ(observer.nulls, (N{{2, "month 1 of the precipitation file is missing ('x\ny')"},
                               {5, "the latitude is not a number from -90 to 90 ('95')"},
                               {6, "month 2 of the precipitation file is missing ('NA')"}}));
  EXPECT_EQ(test::tableLines(test::readFile(dir / "out.txt")).at(1), "a b\t*");
}

}  // namespace
}  // namespace vadoset
