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

/// How many fields splitAllFields would give text: its separators, plus
/// one.
std::size_t countFields(std::string_view text, char sep);

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
/// state. TAB, LF and CR become \t, \n and \r, other C0 controls, NUL and
/// DEL \xHH, the C1 controls in UTF-8 (U+0080 to U+009F) \u00HH, bytes
/// 0x80 to 0x9F that are no part of a UTF-8 character (8-bit C1 controls)
/// \xHH, and a backslash \\, so that every backslash shown starts an escape
/// made here. Every other byte is kept.
std::string escapeControl(std::string_view text);

/// A field of a report that programs read (tab-separated, one line per
/// record): as escapeControl, and every byte that is no part of a UTF-8
/// character is written out as \xHH, and U+2028 and U+2029 as \u2028 and
/// \u2029. The result never holds a tab or a line break of any kind, and
/// is valid UTF-8.
std::string escapeField(std::string_view text);

}  // namespace vadoset
