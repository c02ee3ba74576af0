#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text.h"
#include "run/run_state.h"

namespace vadoset {

struct RunState;
class Host;

enum class OutputOpen { Open, Cancelled, Failed };

/// Asks for the output folder, creates the table and writes its header line.
/// Cancelled: the folder dialog was cancelled (no message). Failed: the file
/// cannot be created, or is a folder or one of the run's input files, and
/// "The output file NAME could not be written." has been shown. The table
/// only appears at its path when the run's Close_files commits it.
OutputOpen write_out(RunState& s, Host& host);

/// Writes the row of the record in hand: its identifier and 39 numbers, or
/// the identifier and "*" for a null row. Every line ends with CR.
void write_files(RunState& s);

/// Longest text that formatRowValues writes.
inline constexpr std::size_t kRowValuesBytes = 39 * (kStrBufferSize + 1);

/// Writes the part of a row that follows the identifier and its TAB into buf
/// (at least kRowValuesBytes): the 39 numbers, TAB-separated and ended by CR,
/// or "*" and CR for a null row. Returns its length. write_files and the
/// parallel run both format rows with it.
std::size_t formatRowValues(std::int32_t nullcell, const MonthArray<double>& PET, const MonthArray<double>& E,
                            const MonthArray<double>& Surplus, char* buf);

/// The header line, CR included.
const std::string& tableHeader();

}  // namespace vadoset
