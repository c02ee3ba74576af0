#pragma once

#include <cstddef>

namespace vadoset {

/// Writes the shortest decimal text that reads back as `value` into buf and
/// returns its length. buf must have 32 bytes, any of which may be
/// overwritten. The text is byte for byte what std::to_chars(first, last,
/// value) writes: the shortest digits, the nearest of them when several are
/// as short, in fixed or scientific notation, whichever is shorter (fixed
/// when both are as long).
std::size_t shortestDoubleText(double value, char* buf);

}  // namespace vadoset
