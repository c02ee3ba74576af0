#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "input/formats.h"
#include "platform/text_stream.h"
#include "run/run.h"
#include "test_support.h"

namespace vadoset {
namespace {

constexpr double M = NAN;  // a missing month
const std::string kExamples = VADOSET_SOURCE_DIR "/examples/";

std::string table(const std::vector<std::string>& args) {
  std::vector<std::string> all = args;
  all.insert(all.end(), {"--output", "-", "--line-ending", "cr", "--threads", "2"});
  std::ostringstream out, err;
  EXPECT_EQ(runCli(all, out, err), 0) << err.str();
  return out.str();
}

TEST(CsvFormat, SamplesGiveTheTabDelimitedTable) {
  for (const char* carry : {"--function=G", "--carryover"}) {
    const std::string expected =
        table({"-t", kExamples + "allsites_temp.txt", "-p", kExamples + "allsites_prec.txt", carry});
    ASSERT_NE(expected.find("Reykjav\xC3\xADk\t*\r"), std::string::npos);
    for (const char* suffix : {".csv", "_semicolon.csv"}) {
      EXPECT_EQ(table({"--format", "csv", "-t", kExamples + "allsites_temp" + suffix, "-p",
                       kExamples + "allsites_prec" + suffix, carry}),
                expected)
          << suffix << " " << carry;
    }
  }
}

bool same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || a == b;
}

TEST(CsvFormat, Fields) {
  const std::string months = ",1,2,3,4,5,6,7,8,9,10,11,12";
  struct Case {
    const char* what;
    std::string header, precip;
    std::string id;
    double latitude;
    std::vector<double> ppt;  // the first months
    double fieldCapacity = 100;
  };
  const std::vector<Case> cases = {
      {"quoted separators and quotes",
       "Site,Lat",
       "\"Oslo, \"\"Blindern\"\"\",59.94" + months,
       "Oslo, \"Blindern\"",
       59.94,
       {1, 2}},
      {"quoted numbers, blanks after the closing quote",
       "Site,Lat",
       "a,\"10\" ,\"12.7\",\"1\"5" + months,
       "a",
       10,
       {12, 15, 1}},
      {"missing: empty, NA, NaN, -9999, a decimal comma",
       "Site,Lat",
       "a,10,,NA,NaN,-9999,\"12,5\",9999,5",
       "a",
       10,
       {M, M, M, M, M, M, 5}},
      {"a line break and a tab in the identifier",
       "Site,Lat",
       "\"two\nline\tsite\",10" + months,
       "two line site",
       10,
       {1}},
      {"an unclosed quote runs to the end", "Site,Lat", "\"open,10,1,2", "open,10,1,2", M, {M}},
      {"quote inside an unquoted field", "Site,Lat", "a\"b,10,1", "a\"b", 10, {1}},
      {"semicolons and decimal commas",
       "\"Site\";Lat;Jan",
       "\"S\xC3\xA3o; Paulo\";-23,5;12,7;\"3,5\";4.5;1,2,3",
       "S\xC3\xA3o; Paulo",
       -23.5,
       {12, 3, 4, M}},
      {"a semicolon header with a comma stays comma-separated", "Site;Lat,Jan", "a;b,10,1", "a;b", 10, {1}},
      {"field_capacity column, truncated",
       "Site,Lat,J,F,M,A,M,J,J,A,S,O,N,D,\" Field_Capacity \"",
       "a,10" + months + ",250.9",
       "a",
       10,
       {1},
       250},
      {"field_capacity empty: no capacity",
       "Site,Lat,x,x,x,x,x,x,x,x,x,x,x,x,field_capacity",
       "a,10" + months + ",",
       "a",
       10,
       {1},
       M},
      {"field_capacity past the end: no capacity",
       "Site,Lat,x,x,x,x,x,x,x,x,x,x,x,x,field_capacity",
       "a,10" + months,
       "a",
       10,
       {1},
       M},
      {"field_capacity cell that is no capacity",
       "Site,Lat,x,x,x,x,x,x,x,x,x,x,x,x,field_capacity",
       "a,10" + months + ",0.5",
       "a",
       10,
       {1},
       M},
      {"field_capacity with a decimal comma", "Site;Lat;Jan;field_capacity", "a;10;1;80,5", "a", 10, {1}, 80},
  };
  for (const Case& c : cases) {
    ReadOptions options;
    kCsvFormat.readHeaders(c.header, "", options);
    RecordInput r;
    std::string text;
    readRecord(kCsvFormat, c.precip, "x,0,1,2,3,4,5,6,7,8,9,10,11,12", options, r, text);
    EXPECT_EQ(r.id, c.id) << c.what;
    EXPECT_TRUE(same(r.latitude, c.latitude)) << c.what << ": " << r.latitude;
    for (std::size_t m = 0; m < c.ppt.size(); ++m)
      EXPECT_TRUE(same(r.ppt[m], c.ppt[m])) << c.what << ", month " << m + 1 << ": " << r.ppt[m];
    EXPECT_TRUE(same(r.fieldCapacity, c.fieldCapacity)) << c.what << ": " << r.fieldCapacity;
  }
}

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
