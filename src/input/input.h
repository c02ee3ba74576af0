#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace vadoset {

struct RunState;
class Host;

/// Asks for the data folder, opens both input files, takes the field
/// capacity (and, for HCN data, the latitude), and consumes both header
/// lines, checking them for HCN data. Returns 1 when the run may start and 0
/// otherwise; every failure but a cancelled folder dialog has been reported
/// through host.showMessage, and any stream it opened is closed again.
std::int32_t Open_files(RunState& s, Host& host);

/// Reads the next record: one line of each input file, filling year,
/// latitude, ppt and tmean. A month without a usable number gets the missing
/// marker 9999; a tab-delimited latitude without one leaves latitude NaN.
void Read_data(RunState& s);

/// The path of a file named `name` inside `folder`; an empty folder leaves
/// the name as it stands.
std::filesystem::path pathInFolder(std::string_view folder, std::string_view name);

/// The name messages give a file: the last part of its path, or the path as
/// given when that ends with a slash ("newdir/").
std::string shownName(const std::filesystem::path& path);

}  // namespace vadoset
