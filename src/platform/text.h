#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vadoset {

// Longest text Str can produce for a double ("-1.2345678901234567e-308").
inline constexpr std::size_t kStrBufferSize = 32;

/// Writes the shortest decimal text that reads back as the same double into
/// buf (at least kStrBufferSize bytes) and returns its length. Never rounds.
std::size_t StrTo(double value, char* buf);

/// The shortest decimal text that reads back as `value` ("0", "12.5", "1e-05").
std::string Str(double value);

/// Parses a decimal number: blanks (space, tab) are trimmed at both ends, then
/// an optional sign, digits with an optional point and fraction (at least one
/// digit), and an optional exponent. Anything else ("inf", "nan", hex, "12,5",
/// trailing text, an empty field, a value beyond the double range) gives
/// nothing. Independent of the locale.
std::optional<double> ParseNumber(std::string_view text);

/// Truncates toward zero. Gives nothing for a value outside the 32-bit range
/// or a non-number.
std::optional<std::int32_t> ToInt32(double value);

/// The n-th field (counted from 1) of text split at sep; empty when there are
/// fewer fields.
std::string_view NthField(std::string_view text, char sep, int n);

/// Splits text at sep in one pass: fields[i] becomes field i + 1 of text,
/// as NthField(text, sep, i + 1) gives it (empty when the text has fewer).
/// The views point into text.
void splitFields(std::string_view text, char sep, std::span<std::string_view> fields);

/// Every field of text split at sep, in one pass: fields (cleared first)
/// gets as many as the text has. The views point into text.
void splitAllFields(std::string_view text, char sep, std::vector<std::string_view>& fields);

/// Up to `length` bytes of text from byte `start` (counted from 1); fewer, or
/// none, when the text ends sooner.
std::string_view Mid(std::string_view text, std::size_t start, std::size_t length);

/// The first `count` bytes of text, or all of it when it is shorter.
std::string_view Left(std::string_view text, std::size_t count);

/// True when text holds nothing but spaces and tabs.
bool IsBlank(std::string_view text);

/// Text for a terminal: control characters are written out, so that a file
/// name or identifier cannot move the cursor or change the terminal's
/// state. TAB, LF and CR become \t, \n and \r, other C0 controls and DEL
/// \xHH, and the C1 controls in UTF-8 (U+0080 to U+009F) \u00HH. Every
/// other byte is kept.
std::string escapeControl(std::string_view text);

}  // namespace vadoset
