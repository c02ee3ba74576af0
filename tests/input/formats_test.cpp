#include "input/formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/text.h"

namespace vadoset {
namespace {

// HCN lines: 12 columns of station id, the year, then 5 columns a month.
std::string hcnLine(const char* year, std::initializer_list<const char*> months) {
  std::string line = "USH00300042 ";
  line += year;
  for (const char* m : months) line += std::string(5 - std::string_view(m).size(), ' ') + m;
  return line + " trailing";
}

// A record as "identifier|latitude|precipitation|temperatures|field
// capacity", the months separated by spaces, "M" for what is missing.
std::string shown(const RecordInput& r) {
  auto number = [](double v) { return std::isnan(v) ? std::string("M") : Str(v); };
  std::string text = std::string(r.id) + "|" + number(r.latitude) + "|";
  for (int m = 0; m < kMonths; ++m) text += number(r.ppt[m]) + (m < kMonths - 1 ? " " : "|");
  for (int m = 0; m < kMonths; ++m) text += number(r.tmean[m]) + (m < kMonths - 1 ? " " : "|");
  return text + number(r.fieldCapacity);
}

// Each format's records in the model's units (HCN: tenths of a degree and of
// a millimetre), with the run's latitude 44.47 and field capacity 100.
TEST(InputFormats, RecordsInTheModelsUnits) {
  const InputFormat tab = InputFormat::Tab, hcn = InputFormat::Hcn, csv = InputFormat::Csv;
  auto months = [](char separator) {
    std::string text;
    for (int m = 1; m <= kMonths; ++m) text += separator + std::to_string(m);
    return text;
  };
  const std::string temps = "x\t0\t-5\t-3.5\t1\t7\t12.7\t18\t21\t20\t15\t9\t3\t-2", csvTemps = "x,0" + months(',');
  const std::string tempValues = "-5 -3.5 1 7 12.7 18 21 20 15 9 3 -2", oneToTwelve = "1 2 3 4 5 6 7 8 9 10 11 12";
  const std::string allMissing = "M M M M M M M M M M M M", tenths = "0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1 1.1 1.2";
  const std::string hcnFull = hcnLine("1951", {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"});
  const std::string fcHeader = "Site,Lat,x,x,x,x,x,x,x,x,x,x,x,x,field_capacity";
  const struct {
    InputFormat format;
    std::string header, precip, tmean, record;
    bool keepFraction = false;
    int fieldCapacityField = 0;
  } cases[] = {
      // Tab-delimited: the fraction of a millimetre dropped, or kept.
      {tab, "", "Des Moines\t41.53\t22\t27\t55\t90\t12.7\t130\t110\t105\t80\t65\t50\t35\textra", temps,
       "Des Moines|41.53|22 27 55 90 12 130 110 105 80 65 50 35|" + tempValues + "|100"},
      {tab, "", "a\t10\t0.4\t2\t3\t4\t12.7\t6\t7\t8\t9\t10\t11\t-0.5", temps,
       "a|10|0.4 2 3 4 12.7 6 7 8 9 10 11 -0.5|" + tempValues + "|100", true},
      // Missing markers and non-numbers; a short line and an ended temperature file.
      {tab, "", "1950\t44.5\tNA\t-9999\t-9999.0\t\t \tabc\t12,5\tinf\t1e12\t9999\t9999.5\t9998",
       "\t\t9999.5\t1\t2\t3\t4\t5\t6\t7\t8\t9\t10\t NA",
       "1950|44.5|M M M M M M M M M M M 9998|9999.5 1 2 3 4 5 6 7 8 9 10 M|100"},
      {tab, "", "Site\t10\t1\t2\t3", "", "Site|10|1 2 3 M M M M M M M M M|M M M M M M M M M M M M|100"},
      // The identifier byte for byte; latitudes beyond the pole or with a letter.
      {tab, "", "  S\xC3\xA3o Paulo \xFF \t-90" + months('\t'), temps,
       "  S\xC3\xA3o Paulo \xFF |-90|" + oneToTwelve + "|" + tempValues + "|100"},
      {tab, "", "a\t90.5", temps, "a|M|" + allMissing + "|" + tempValues + "|100"},
      {tab, "", "a\t47.45N", temps, "a|M|" + allMissing + "|" + tempValues + "|100"},
      // A record's own field capacity, in whole millimetres.
      {tab, "", "a\t10" + months('\t') + "\t250.9", temps, "a|10|" + oneToTwelve + "|" + tempValues + "|250", false,
       15},
      // HCN: tenths, whole millimetres; tenths kept; short, blank and NA fields.
      {hcn, "", hcnLine("1950", {"254", "0", "-9999", "17", "1", "2", "3", "4", "5", "6", "7", "8"}),
       hcnLine("0000", {"-53", "-9999", "10", "20", "30", "40", "50", "60", "70", "80", "90", "100"}),
       "1950|44.47|25 0 M 1 0 0 0 0 0 0 0 0|-5.3 M 1 2 3 4 5 6 7 8 9 10|100"},
      {hcn, "", hcnLine("1950", {"254", "5", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10"}), hcnFull,
       "1950|44.47|25.4 0.5 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1|" + tenths + "|100", true},
      {hcn, "", hcnFull.substr(0, 71),
       hcnLine("1951", {"  NA", "     ", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}),
       "1951|44.47|0 0 0 0 0 0 0 0 0 1 1 M|M M 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1 1.1 1.2|100"},
      // CSV: quoted separators and quotes; quoted numbers, blanks after the
      // closing quote; missing (empty, NA, NaN, -9999, a decimal comma).
      {csv, "Site,Lat", "\"Oslo, \"\"Blindern\"\"\",59.94" + months(','), csvTemps,
       "Oslo, \"Blindern\"|59.94|" + oneToTwelve + "|" + oneToTwelve + "|100"},
      {csv, "Site,Lat", "a,\"10\" ,\"12.7\",\"1\"5" + months(','), csvTemps,
       "a|10|12 15 1 2 3 4 5 6 7 8 9 10|" + oneToTwelve + "|100"},
      {csv, "Site,Lat", "a,10,,NA,NaN,-9999,\"12,5\",9999,5", csvTemps,
       "a|10|M M M M M M 5 M M M M M|" + oneToTwelve + "|100"},
      // A line break and a tab in the identifier; an unclosed quote runs to
      // the end; a quote inside an unquoted field.
      {csv, "Site,Lat", "\"two\nline\tsite\",10" + months(','), csvTemps,
       "two line site|10|" + oneToTwelve + "|" + oneToTwelve + "|100"},
      {csv, "Site,Lat", "\"open,10,1,2", csvTemps, "open,10,1,2|M|" + allMissing + "|" + oneToTwelve + "|100"},
      {csv, "Site,Lat", "a\"b,10,1", csvTemps, "a\"b|10|1 M M M M M M M M M M M|" + oneToTwelve + "|100"},
      // Semicolons and decimal commas (the temperature line has no semicolon);
      // a semicolon header with a comma stays comma-separated.
      {csv, "\"Site\";Lat;Jan", "\"S\xC3\xA3o; Paulo\";-23,5;12,7;\"3,5\";4.5;1,2,3", csvTemps,
       "S\xC3\xA3o; Paulo|-23.5|12 3 4 M M M M M M M M M|" + allMissing + "|100"},
      {csv, "Site;Lat,Jan", "a;b,10,1", csvTemps, "a;b|10|1 M M M M M M M M M M M|" + oneToTwelve + "|100"},
      // A field_capacity column: truncated; empty, past the end of the line or
      // below 1 mm: no capacity; with a decimal comma.
      {csv, "Site,Lat,J,F,M,A,M,J,J,A,S,O,N,D,\" Field_Capacity \"", "a,10" + months(',') + ",250.9", csvTemps,
       "a|10|" + oneToTwelve + "|" + oneToTwelve + "|250"},
      {csv, fcHeader, "a,10" + months(',') + ",", csvTemps, "a|10|" + oneToTwelve + "|" + oneToTwelve + "|M"},
      {csv, fcHeader, "a,10" + months(','), csvTemps, "a|10|" + oneToTwelve + "|" + oneToTwelve + "|M"},
      {csv, fcHeader, "a,10" + months(',') + ",0.5", csvTemps, "a|10|" + oneToTwelve + "|" + oneToTwelve + "|M"},
      {csv, "Site;Lat;x;x;x;x;x;x;x;x;x;x;x;x;field_capacity", "a;10" + months(';') + ";80,5", csvTemps,
       "a|10|" + oneToTwelve + "|" + allMissing + "|80"},
  };
  for (const auto& c : cases) {
    const InputFormatDescription& format = formatDescription(c.format);
    ReadOptions options;
    options.latitude = 44.47;
    options.keepPrecipitationFraction = c.keepFraction;
    options.fieldCapacityField = c.fieldCapacityField;
    if (format.readHeaders != nullptr) format.readHeaders(c.header, "", options);
    RecordInput r;
    std::string text;
    readRecord(format, c.precip, c.tmean, options, r, text);
    EXPECT_EQ(shown(r), c.record) << c.precip;
  }
}

TEST(InputFormats, TheTableNamesEveryFormatOnce) {
  for (const InputFormatDescription& f : inputFormats()) {
    EXPECT_EQ(findFormat(f.cliName), &formatDescription(f.format)) << f.cliName;
    EXPECT_FALSE(f.label.empty());
  }
  EXPECT_EQ(findFormat("xls"), nullptr);
}

}  // namespace
}  // namespace vadoset
