#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "output/columns.h"
#include "output/output.h"
#include "platform/text.h"
#include "state/run_state.h"
#include "test_support.h"

namespace vadoset {
namespace {

TEST(OutputTable, HeaderHasFortyFieldsAndEndsWithCr) {
  const TableLayout layout;
  const std::string& h = layout.header();
  EXPECT_EQ(std::count(h.begin(), h.end(), '\t'), 39);
  EXPECT_EQ(h.back(), '\r');
  EXPECT_EQ(std::count(h.begin(), h.end(), '\r'), 1);
  std::vector<std::string> f = test::splitTabs(h.substr(0, h.size() - 1));
  EXPECT_EQ(f[0], "Year or site");
  EXPECT_EQ(f[1], "PET_01");
  EXPECT_EQ(f[12], "PET_12");
  EXPECT_EQ(f[13], "AET_01");
  EXPECT_EQ(f[25], "SURPLUS_01");
  EXPECT_EQ(f[36], "SURPLUS_12");
  EXPECT_EQ(f[37], "PET");
  EXPECT_EQ(f[38], "AET");
  EXPECT_EQ(f[39], "SURPLUS");
}

std::string rowOf(RunState& s) {
  std::ostringstream out;
  s.aet_out = TextOutputStream::toStream(out);
  write_files(s);
  s.aet_out->commit();
  return out.str();
}

TEST(OutputTable, RowHoldsMonthsThenSumsInShortestText) {
  RunState s;
  s.year = " 1950 ";
  for (int m = 1; m <= 12; ++m) {
    s.PET[m] = 0.1 * m;
    s.E[m] = m;
    s.Surplus[m] = 0.0;
  }
  s.E[3] = 1e-05;
  std::string row = rowOf(s);
  EXPECT_EQ(std::count(row.begin(), row.end(), '\t'), 39);
  ASSERT_EQ(row.back(), '\r');
  std::vector<std::string> f = test::splitTabs(row.substr(0, row.size() - 1));
  EXPECT_EQ(f[0], " 1950 ");  // the identifier is written as read
  EXPECT_EQ(f[1], "0.1");
  EXPECT_EQ(f[3], "0.30000000000000004");
  EXPECT_EQ(f[15], "1e-05");
  EXPECT_EQ(f[26], "0");
  // Sums add months 1 to 12 in order, as doubles.
  double pet = 0.0;
  for (int m = 1; m <= 12; ++m) pet += 0.1 * m;
  EXPECT_EQ(f[37], Str(pet));
  EXPECT_EQ(f[38], Str(1 + 2 + 1e-05 + 4 + 5 + 6 + 7 + 8 + 9 + 10 + 11 + 12.0));
  EXPECT_EQ(f[39], "0");
}

TEST(OutputTable, NullRowIsIdentifierAndStar) {
  RunState s;
  s.year = "Station 7";
  s.nullcell = 1;
  EXPECT_EQ(rowOf(s), "Station 7\t*\r");
}

}  // namespace
}  // namespace vadoset
