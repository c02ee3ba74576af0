#include "platform/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace vadoset {
namespace {

TEST(Str, ShortestTextThatReadsBack) {
  EXPECT_EQ(Str(0.0), "0");
  EXPECT_EQ(Str(12.5), "12.5");
  EXPECT_EQ(Str(1e-05), "1e-05");
  EXPECT_EQ(Str(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(Str(-3.0), "-3");
  // Fixed and scientific: the shorter wins, fixed on a tie.
  EXPECT_EQ(Str(10000.0), "10000");
  EXPECT_EQ(Str(1000000.0), "1e+06");
  EXPECT_EQ(Str(123456.0), "123456");
}

// Bodies of one to eight bytes are read eight at a time: the point and
// the bytes next to '0' and '9' in every place, and the longer forms.
TEST(ParseNumber, AcceptsPlainDecimals) {
  const std::string tiny = "0." + std::string(400, '0') + "1", zeros(400, '0');
  using P = std::pair<std::string, double>;
  const P cases[] = {P("12.5", 12.5), P("  -3 \t", -3.0), P("+4", 4.0), P(".5", 0.5), P("5.", 5.0), P("1e3", 1000.0),
                     P("1.5E-2", 0.015), P("  254", 254.0), P("7", 7.0), P("12345678", 12345678.0),
                     P("1234567.8", 1234567.8), P(".1234567", 0.1234567), P("-9999", -9999.0), P("0.07", 0.07),
                     P("123456789.5", 123456789.5), P("00000000000000000001", 1.0), P("-70.01", -70.01),
                     P("1234567890123456.5", 1234567890123456.5), P(zeros + "1e-5", 1e-5),
                     // Too small for a double is zero, however it is written.
                     P("1e-400", 0.0), P(tiny, 0.0), P("-" + tiny + "e5", 0.0), P("0e999999999999999999999", 0.0),
                     P("0.00001e-320", 0.0), P("1e-999999999999999999999", 0.0)};
  for (const auto& [text, value] : cases) EXPECT_EQ(ParseNumber(text), value) << '"' << text << '"';
  for (const char* negativeZero : {"-0", "-0.0"}) EXPECT_TRUE(std::signbit(*ParseNumber(negativeZero)));
}

TEST(ParseNumber, RefusesEverythingElse) {
  const std::string huge = "1" + std::string(400, '0') + "e-5";
  const std::string_view refused[] = {"", "   ", "NA", "inf", "-inf", "nan", "0x1A", "12,5", "12abc", "1e", "1e+", ".",
                                      "-", "+-1", "--1", "1-", "- 1", "1 2", "e5", "1e400", "1/2", "1:2", "9.9.",
                                      "1.2.3", "..", "-.", "-9999x", "12345.6/", "1234567\xB7", "\xB1",
                                      "\xEF\xBB\xBF\x31", std::string_view("1\0002", 3),
                                      // Too large for a double, however it is written.
                                      "1e+999999999999999999999", huge};
  for (std::string_view t : refused) EXPECT_FALSE(ParseNumber(t).has_value()) << '"' << t.substr(0, 30) << '"';
}

TEST(ToInt32, TruncatesTowardZeroWithinRange) {
  EXPECT_EQ(ToInt32(12.7), 12);
  EXPECT_EQ(ToInt32(-12.7), -12);
  EXPECT_EQ(ToInt32(2147483647.9), 2147483647);
  EXPECT_EQ(ToInt32(-2147483648.5), -2147483647 - 1);
  EXPECT_FALSE(ToInt32(2147483648.0));
  EXPECT_FALSE(ToInt32(-2147483649.0));
  EXPECT_FALSE(ToInt32(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(ToInt32(std::numeric_limits<double>::infinity()));
}

TEST(Fields, NthFieldMidLeft) {
  EXPECT_EQ(NthField("a\tb\t\tc", '\t', 1), "a");
  EXPECT_EQ(NthField("a\tb\t\tc", '\t', 3), "");
  EXPECT_EQ(NthField("a\tb\t\tc", '\t', 4), "c");
  EXPECT_EQ(NthField("a\tb", '\t', 5), "");
  EXPECT_EQ(NthField("", '\t', 1), "");
  EXPECT_EQ(Mid("abcdef", 3, 2), "cd");
  EXPECT_EQ(Mid("abcdef", 5, 5), "ef");
  EXPECT_EQ(Mid("abcdef", 7, 5), "");
  EXPECT_EQ(Left("HC", 3), "HC");
  EXPECT_EQ(Left("HCN header", 3), "HCN");
  EXPECT_TRUE(IsBlank(" \t "));
}

// splitFields gives what NthField gives, field by field, and countFields
// as many as splitAllFields, whether the separators fall in the
// sixteen-byte blocks, in the last overlapping one or in the bytes after it.
TEST(Fields, SplitFieldsAsNthField) {
  const std::string lines[] = {
      "",
      "a",
      "\t",
      "id\t44.5\t-3.2\t\t12",
      "Tromso 0000000\t70.01\t-4.7\t-3.0\t-3.6\t1.1\t3.5\t11.4\t12.4\t10.5\t9.6\t4.3\t-1.4\t-2.1",
      std::string(15, 'x') + "\t" + std::string(16, 'y') + "\t\t" + std::string(30, 'z') + "\t",
      std::string(40, '\t')};
  for (const std::string& line : lines) {
    std::vector<std::string_view> all;
    splitAllFields(line, '\t', all);
    EXPECT_EQ(countFields(line, '\t'), all.size()) << line;
    for (std::size_t count : {1, 3, 14, 45}) {
      std::vector<std::string_view> fields(count, "junk");
      splitFields(line, '\t', fields);
      for (std::size_t i = 0; i < count; ++i)
        EXPECT_EQ(fields[i], NthField(line, '\t', static_cast<int>(i + 1))) << line.size() << " bytes, field " << i + 1;
    }
  }
  EXPECT_FALSE(IsBlank(" x "));
}

// Each text as a terminal's message and as a field of a report that programs read.
TEST(EscapeControl, WritesOutWhatATerminalOrAReaderWouldObey) {
  const std::string same = "=";  // the field is written as for the terminal
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"plain name.txt", "plain name.txt", same},
      {"a\tb\nc\rd", "a\\tb\\nc\\rd", same},
      {"\x1b[2J\x07\x7f" + std::string(1, '\0'), "\\x1b[2J\\x07\\x7f\\x00", same},
      {"\xc2\x9b"
       "31m \xc2\x80 \xc2\x85",
       "\\u009b31m \\u0080 \\u0085", same},  // C1 controls in UTF-8; U+0085 is a line break to some readers
      {"\x9b"
       "31m",
       "\\x9b31m", same},  // an 8-bit CSI
      {"a literal \\x1b and C:\\data", "a literal \\\\x1b and C:\\\\data", same},
      // Characters that end in a byte from 0x80 to 0x9F are kept whole.
      {"\xc4\x9b \xe2\x80\x9c \xf0\x9f\x98\x80", "\xc4\x9b \xe2\x80\x9c \xf0\x9f\x98\x80", same},
      // Stray bytes: only those a terminal could take for controls, but all in a field.
      {"S\xc3\xa3o \xe2\x82\xac \xc2\xa0 \xff \xc2", "S\xc3\xa3o \xe2\x82\xac \xc2\xa0 \xff \xc2",
       "S\xc3\xa3o \xe2\x82\xac \xc2\xa0 \\xff \\xc2"},
      // Overlong forms, surrogates and a cut sequence are no UTF-8.
      {"\xc0\x9b \xed\xa0\x80 \xe2\x82", "\xc0\\x9b \xed\xa0\\x80 \xe2\\x82", "\\xc0\\x9b \\xed\\xa0\\x80 \\xe2\\x82"},
      {"line\xe2\x80\xa8sep\xe2\x80\xa9", "line\xe2\x80\xa8sep\xe2\x80\xa9", "line\\u2028sep\\u2029"},
  };
  for (const auto& [text, shown, field] : cases) {
    EXPECT_EQ(escapeControl(text), shown) << shown;
    EXPECT_EQ(escapeField(text), field == same ? shown : field) << shown;
  }
}

}  // namespace
}  // namespace vadoset
