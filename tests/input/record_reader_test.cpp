#include <gtest/gtest.h>

#include <cmath>

#include "input/input.h"
#include "run/driver.h"
#include "state/run_state.h"

namespace vadoset {
namespace {

std::string tabs(std::initializer_list<const char*> fields) {
  std::string line;
  bool first = true;
  for (const char* f : fields) {
    if (!first) line += '\t';
    line += f;
    first = false;
  }
  return line;
}

const std::string kTemps = tabs({"x", "0", "-5", "-3.5", "1", "7", "12.7", "18", "21", "20", "15", "9", "3", "-2"});

TEST(TabReader, ReadsIdentifierLatitudeAndMonths) {
  RunState s;
  readTabRecord(s, tabs({"Des Moines", "41.53", "22", "27", "55", "90", "12.7", "130", "110", "105", "80", "65",
                         "50", "35", "extra"}),
                kTemps);
  EXPECT_EQ(s.year, "Des Moines");
  EXPECT_EQ(s.latitude, 41.53);
  EXPECT_EQ(s.ppt[1], 22);
  EXPECT_EQ(s.ppt[5], 12);  // fractions of a millimetre are dropped
  EXPECT_EQ(s.tmean[5], 12.7);
  EXPECT_EQ(s.tmean[2], -3.5);
  EXPECT_EQ(s.ppt[12], 35);
  EXPECT_EQ(s.ppt[0], 0);
  EXPECT_FALSE(recordIsMissing(s));
}

TEST(TabReader, MissingMonths) {
  const char* missing[] = {"NA", "-9999", "-9999.0", "", " ", "abc", "12,5", "inf", "1e12"};
  for (const char* text : missing) {
    RunState s;
    readTabRecord(s, tabs({"1950", "44.5", "1", "2", text, "4", "5", "6", "7", "8", "9", "10", "11", "12"}), kTemps);
    EXPECT_EQ(s.ppt[3], 9999) << '"' << text << '"';
    EXPECT_EQ(s.ppt[4], 4);
    EXPECT_TRUE(recordIsMissing(s)) << text;
  }
  RunState t;
  readTabRecord(t, tabs({"1950", "44.5", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}),
                tabs({"", "", "NA", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "nan"}));
  EXPECT_EQ(t.tmean[1], 9999.0);
  EXPECT_EQ(t.tmean[12], 9999.0);
  EXPECT_TRUE(recordIsMissing(t));
}

TEST(TabReader, AValueNearTheMarkerIsNotMissing) {
  RunState s;
  readTabRecord(s, tabs({"a", "10", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}),
                tabs({"", "", "9999.5", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", " NA"}));
  EXPECT_EQ(s.tmean[1], 9999.5);
  EXPECT_EQ(s.tmean[12], 9999.0);  // " NA" is not a number either
}

TEST(TabReader, ShortLinesAndMissingTemperatureLines) {
  RunState s;
  readTabRecord(s, tabs({"Site", "10", "1", "2", "3"}), kTemps);
  EXPECT_EQ(s.ppt[3], 3);
  EXPECT_EQ(s.ppt[4], 9999);
  EXPECT_TRUE(recordIsMissing(s));
  RunState t;  // the temperature file has ended: its line is empty
  readTabRecord(t, tabs({"Site", "10", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}), "");
  EXPECT_TRUE(recordIsMissing(t));
}

TEST(TabReader, LatitudeMustBeADegreeValue) {
  for (const char* lat : {"", "north", "90.5", "-91", "1e3"}) {
    RunState s;
    readTabRecord(s, tabs({"a", lat, "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}), kTemps);
    EXPECT_TRUE(std::isnan(s.latitude)) << lat;
    EXPECT_TRUE(recordIsMissing(s)) << lat;
  }
  RunState pole;
  readTabRecord(pole, tabs({"a", "-90", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}), kTemps);
  EXPECT_FALSE(recordIsMissing(pole));
}

TEST(TabReader, IdentifierIsKeptByteForByte) {
  RunState s;
  readTabRecord(s, tabs({"  S\xC3\xA3o Paulo \xFF ", "-23.5", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11",
                         "12"}),
                kTemps);
  EXPECT_EQ(s.year, "  S\xC3\xA3o Paulo \xFF ");
}

// HCN lines: 12 columns of station id, the year, then 5 columns a month.
std::string hcnLine(const char* year, std::initializer_list<const char*> months) {
  std::string line = "USH00300042 ";
  line += year;
  for (const char* m : months) {
    std::string f = m;
    line += std::string(5 - f.size(), ' ') + f;
  }
  return line + " trailing";
}

TEST(HcnReader, ReadsFixedColumnsInTenths) {
  RunState s;
  s.hcn_latitude = 44.47;
  readHcnRecord(s, hcnLine("1950", {"254", "0", "-9999", "17", "1", "2", "3", "4", "5", "6", "7", "8"}),
                hcnLine("0000", {"-53", "-9999", "10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}));
  EXPECT_EQ(s.year, "1950");
  EXPECT_EQ(s.latitude, 44.47);
  EXPECT_EQ(s.ppt[1], 254);
  EXPECT_EQ(s.ppt[2], 0);
  EXPECT_EQ(s.ppt[3], 9999);
  EXPECT_EQ(s.ppt[4], 17);
  EXPECT_EQ(s.tmean[1], -53.0);
  EXPECT_EQ(s.tmean[2], 9999.0);
  EXPECT_EQ(s.tmean[12], 100.0);
}

TEST(HcnReader, ShortOrBlankFieldsAreMissing) {
  RunState s;
  std::string full = hcnLine("1951", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"});
  readHcnRecord(s, full.substr(0, 71), full);  // December cut off
  EXPECT_EQ(s.ppt[11], 11);
  EXPECT_EQ(s.ppt[12], 9999);
  RunState b;
  std::string blank = full;
  blank.replace(16, 5, "     ");
  readHcnRecord(b, full, blank);
  EXPECT_EQ(b.tmean[1], 9999.0);
  EXPECT_EQ(b.tmean[2], 2.0);
  RunState n;  // "NA" has no special meaning in HCN files, but is no number
  readHcnRecord(n, full, hcnLine("1951", {"  NA", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}));
  EXPECT_EQ(n.tmean[1], 9999.0);
}

}  // namespace
}  // namespace vadoset
