#include "output/columns.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/text.h"
#include "test_support.h"

namespace vadoset {
namespace {

std::vector<std::string> fieldsOf(const std::string& line, std::string_view ending) {
  EXPECT_TRUE(line.ends_with(ending)) << line;
  return test::splitTabs(line.substr(0, line.size() - ending.size()));
}

// The header and rows of every layout: the identifier, then the groups in
// the order asked for (a group named twice comes once), each column named.
TEST(TableLayout, HeaderAndRowsComeFromOneList) {
  RecordInput in;
  RecordResult r;
  for (int m = 0; m < kMonths; ++m) {
    r.pet[m] = 0.1 * (m + 1);
    r.aet[m] = m + 1;
    r.surplus[m] = 0.0;
    r.soil[m] = 50.0 + m;
    r.snow[m] = m == 0 ? 12.5 : 0.0;
    in.ppt[m] = 100.0 + m;
  }
  r.aet[2] = 1e-05;
  const struct {
    std::vector<ColumnGroup> groups;
    LineEnding ending;
    std::string_view endText;
    std::vector<std::pair<std::size_t, std::string>> named;   // header field -> name
    std::vector<std::pair<std::size_t, std::string>> values;  // row field -> text
  } cases[] = {
      {{ColumnGroup::Classic},
       LineEnding::Cr,
       "\r",
       {{0, "Year or site"}, {1, "PET_01"}, {13, "AET_01"}, {36, "SURPLUS_12"}, {37, "PET"}, {39, "SURPLUS"}},
       {{1, "0.1"}, {3, "0.30000000000000004"}, {15, "1e-05"}, {26, "0"}, {39, "0"}}},
      {{ColumnGroup::Deficit, ColumnGroup::Classic, ColumnGroup::Deficit},
       LineEnding::Lf,
       "\n",
       {{1, "DEFICIT_01"}, {13, "DEFICIT"}, {14, "PET_01"}},
       {{1, Str(0.1 - 1.0)}, {3, Str(0.30000000000000004 - 1e-05)}}},
      {{ColumnGroup::Soil, ColumnGroup::Snow, ColumnGroup::Precip},
       LineEnding::CrLf,
       "\r\n",
       {{1, "SOIL_01"}, {13, "SNOW_01"}, {25, "PRECIP_01"}, {36, "PRECIP_12"}},
       {{1, "50"}, {12, "61"}, {13, "12.5"}, {14, "0"}, {36, "111"}}},
  };
  for (const auto& c : cases) {
    const TableLayout layout(c.groups, c.ending);
    const std::vector<std::string> names = fieldsOf(layout.header(), c.endText);
    ASSERT_EQ(names.size(), layout.valueCount() + 1);
    for (const auto& [i, name] : c.named) EXPECT_EQ(names.at(i), name);
    std::vector<char> buf(layout.rowValuesBytes());
    const std::vector<std::string> row =
        fieldsOf("id\t" + std::string(buf.data(), layout.formatRowValues(in, r, buf.data())), c.endText);
    ASSERT_EQ(row.size(), names.size());
    for (const auto& [i, text] : c.values) EXPECT_EQ(row.at(i), text) << names.at(i);
    RecordResult null;
    null.reason = NullReason::PerennialSnow;
    EXPECT_EQ(std::string(buf.data(), layout.formatRowValues(in, null, buf.data())), "*" + std::string(c.endText));
  }
  // The sums add the months in order, as doubles.
  double pet = 0.0, deficit = 0.0;
  for (int m = 0; m < kMonths; ++m) pet += r.pet[m], deficit += r.pet[m] - r.aet[m];
  std::vector<char> buf(TableLayout({ColumnGroup::Classic, ColumnGroup::Deficit}).rowValuesBytes());
  const auto row = test::splitTabs(std::string(
      buf.data(), TableLayout({ColumnGroup::Classic, ColumnGroup::Deficit}).formatRowValues(in, r, buf.data()) - 1));
  EXPECT_EQ(row[36], Str(pet));
  EXPECT_EQ(row[51], Str(deficit));
}

}  // namespace
}  // namespace vadoset
