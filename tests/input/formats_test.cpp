#include "input/formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace vadoset {
namespace {

constexpr double M = NAN;  // a missing month

std::string tabRecord(const std::string& id, const std::string& lat, const std::vector<std::string>& months) {
  std::string line = id + "\t" + lat;
  for (const std::string& m : months) line += "\t" + m;
  return line;
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

const std::string kTemps =
    tabRecord("x", "0", {"-5", "-3.5", "1", "7", "12.7", "18", "21", "20", "15", "9", "3", "-2"});
const std::vector<double> kTempValues = {-5, -3.5, 1, 7, 12.7, 18, 21, 20, 15, 9, 3, -2};
const std::string kHcnFull = hcnLine("1951", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"});

struct Case {
  const char* what;
  InputFormat format;
  std::string precip, tmean;
  std::string id;
  double latitude;
  std::vector<double> ppt, tmeanValues;  // empty: not checked
  bool keepFraction = false;
};

bool same(double a, double b) {
  return (std::isnan(a) && std::isnan(b)) || a == b;
}

TEST(InputFormats, RecordsInTheModelsUnits) {
  const std::vector<Case> cases = {
      {"tab: fields, fraction of a millimetre dropped",
       InputFormat::Tab,
       tabRecord("Des Moines", "41.53",
                 {"22", "27", "55", "90", "12.7", "130", "110", "105", "80", "65", "50", "35", "extra"}),
       kTemps,
       "Des Moines",
       41.53,
       {22, 27, 55, 90, 12, 130, 110, 105, 80, 65, 50, 35},
       kTempValues},
      {"tab: the fraction kept",
       InputFormat::Tab,
       tabRecord("a", "10", {"0.4", "2", "3", "4", "12.7", "6", "7", "8", "9", "10", "11", "-0.5"}),
       kTemps,
       "a",
       10,
       {0.4, 2, 3, 4, 12.7, 6, 7, 8, 9, 10, 11, -0.5},
       kTempValues,
       true},
      {"tab: missing markers and non-numbers",
       InputFormat::Tab,
       tabRecord("1950", "44.5",
                 {"NA", "-9999", "-9999.0", "", " ", "abc", "12,5", "inf", "1e12", "9999", "9999.5", "9998"}),
       tabRecord("", "", {"9999.5", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", " NA"}),
       "1950",
       44.5,
       {M, M, M, M, M, M, M, M, M, M, M, 9998},
       {9999.5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, M}},
      {"tab: a short line and an ended temperature file",
       InputFormat::Tab,
       tabRecord("Site", "10", {"1", "2", "3"}),
       "",
       "Site",
       10,
       {1, 2, 3, M, M, M, M, M, M, M, M, M},
       {M, M, M, M, M, M, M, M, M, M, M, M}},
      {"tab: identifier kept byte for byte",
       InputFormat::Tab,
       tabRecord("  S\xC3\xA3o Paulo \xFF ", "-90", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}),
       kTemps,
       "  S\xC3\xA3o Paulo \xFF ",
       -90,
       {},
       {}},
      {"tab: latitude beyond the pole", InputFormat::Tab, tabRecord("a", "90.5", {}), kTemps, "a", M, {}, {}},
      {"tab: latitude with a letter", InputFormat::Tab, tabRecord("a", "47.45N", {}), kTemps, "a", M, {}, {}},
      {"hcn: tenths, whole millimetres",
       InputFormat::Hcn,
       hcnLine("1950", {"254", "0", "-9999", "17", "1", "2", "3", "4", "5", "6", "7", "8"}),
       hcnLine("0000", {"-53", "-9999", "10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}),
       "1950",
       44.47,
       {25, 0, M, 1, 0, 0, 0, 0, 0, 0, 0, 0},
       {-5.3, M, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"hcn: tenths kept",
       InputFormat::Hcn,
       hcnLine("1950", {"254", "5", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}),
       kHcnFull,
       "1950",
       44.47,
       {25.4, 0.5, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0},
       {},
       true},
      {"hcn: short, blank and NA fields",
       InputFormat::Hcn,
       kHcnFull.substr(0, 71),
       hcnLine("1951", {"  NA", "     ", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}),
       "1951",
       44.47,
       {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, M},
       {M, M, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0, 1.1, 1.2}},
  };
  for (const Case& c : cases) {
    ReadOptions options;
    options.latitude = 44.47;
    options.keepPrecipitationFraction = c.keepFraction;
    RecordInput r;
    std::string text;
    readRecord(formatDescription(c.format), c.precip, c.tmean, options, r, text);
    EXPECT_EQ(r.id, c.id) << c.what;
    EXPECT_TRUE(same(r.latitude, c.latitude)) << c.what << ": " << r.latitude;
    for (std::size_t m = 0; m < c.ppt.size(); ++m)
      EXPECT_TRUE(same(r.ppt[m], c.ppt[m])) << c.what << ", precipitation month " << m + 1 << ": " << r.ppt[m];
    for (std::size_t m = 0; m < c.tmeanValues.size(); ++m)
      EXPECT_TRUE(same(r.tmean[m], c.tmeanValues[m]))
          << c.what << ", temperature month " << m + 1 << ": " << r.tmean[m];
  }
}

TEST(InputFormats, TheTableNamesEveryFormatOnce) {
  for (const InputFormatDescription& f : inputFormats()) {
    EXPECT_EQ(findFormat(f.cliName), &formatDescription(f.format)) << f.cliName;
    EXPECT_FALSE(f.label.empty());
  }
  EXPECT_EQ(findFormat("xls"), nullptr);
}

TEST(InputFormats, PerRecordFieldCapacity) {
  // Whole millimetres, as the run's own; an empty field is no capacity, never
  // the run's.
  const std::vector<std::pair<const char*, double>> cases = {{"250", 250}, {"250.9", 250}, {"", M},   {"0", M},
                                                             {"-5", M},    {"deep", M},    {"0.5", M}};
  for (const auto& [text, expected] : cases) {
    ReadOptions options;
    options.fieldCapacity = 100;
    options.fieldCapacityField = 15;
    RecordInput r;
    std::string line = tabRecord("a", "10", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", text});
    std::string scratch;
    readRecord(kTabFormat, line, kTemps, options, r, scratch);
    EXPECT_TRUE(same(r.fieldCapacity, expected)) << text << ": " << r.fieldCapacity;
  }
}

}  // namespace
}  // namespace vadoset
