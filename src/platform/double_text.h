#pragma once

#include <cstddef>

namespace vadoset {

/// Writes the shortest decimal text that reads back as `value` into buf (at
/// least 32 bytes) and returns its length. The text is byte for byte what
/// std::to_chars(first, last, value) writes: the shortest digits, the nearest
/// of them when several are as short, in fixed or scientific notation,
/// whichever is shorter (fixed when both are as long). About twice as fast.
std::size_t shortestDoubleText(double value, char* buf);

}  // namespace vadoset
