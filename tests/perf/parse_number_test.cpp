#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <random>
#include <string>

#include "platform/text.h"

namespace vadoset {
namespace {

// The correctly rounded value of an unsigned decimal, by the library.
double library(const std::string& digits) {
  double v = 0.0;
  std::from_chars(digits.data(), digits.data() + digits.size(), v);
  return v;
}

// Short decimals take a fast path in ParseNumber; it must give the very
// same double as the full parser, for every length up to where it hands
// over, and leave everything it does not understand to the full parser.
TEST(ParseNumberFastPath, SameBitsAsTheLibrary) {
  std::mt19937_64 rng(42);
  int bad = 0;
  for (int i = 0; i < 400000; ++i) {
    const int total = 1 + static_cast<int>(rng() % 18);
    std::string digits;
    for (int d = 0; d < total; ++d) digits += static_cast<char>('0' + rng() % 10);
    const int pointAt = static_cast<int>(rng() % static_cast<std::uint64_t>(total + 2)) - 1;  // -1: no point
    std::string number = digits;
    if (pointAt >= 0) number.insert(static_cast<std::size_t>(pointAt), ".");
    const bool negative = rng() % 2 == 0;
    std::string text = (rng() % 4 == 0 ? "  " : "") + std::string(negative ? "-" : (rng() % 8 == 0 ? "+" : "")) +
                       number + (rng() % 4 == 0 ? " \t" : "");
    const double expected = negative ? -library(number) : library(number);
    std::optional<double> got = ParseNumber(text);
    if (!got || std::bit_cast<std::uint64_t>(*got) != std::bit_cast<std::uint64_t>(expected)) {
      if (++bad <= 5) ADD_FAILURE() << "'" << text << "'";
    }
  }
  EXPECT_EQ(bad, 0);
}

TEST(ParseNumberFastPath, LeavesWhatIsNotAPlainDecimalToTheFullParser) {
  for (const char* text : {"", " ", ".", "-", "+", "-.", "1.2.3", "--1", "1-", "- 1", "1 2", "12,5", "0x10", "inf",
                           "nan", "1e", "NA", "-9999x"})
    EXPECT_FALSE(ParseNumber(text)) << "'" << text << "'";
  EXPECT_EQ(ParseNumber("12."), 12.0);
  EXPECT_EQ(ParseNumber(".5"), 0.5);
  EXPECT_EQ(ParseNumber("1e3"), 1000.0);
  EXPECT_EQ(ParseNumber("  -53"), -53.0);
  EXPECT_TRUE(std::signbit(*ParseNumber("-0.0")));
  EXPECT_EQ(ParseNumber("1234567890123456.5"), 1234567890123456.5);  // 17 digits: the full parser
}

}  // namespace
}  // namespace vadoset
