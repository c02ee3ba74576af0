#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text.h"
#include "state/run_state.h"

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

/// Writes the row of the record in hand: its identifier and the table's
/// columns, or the identifier and "*" for a null row.
void write_files(RunState& s);

}  // namespace vadoset
