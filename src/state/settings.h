#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/engine.h"

namespace vadoset {

/// The input formats, in the order of the window's format pop-up.
enum class InputFormat : std::uint8_t { Tab = 0, Hcn = 1, Csv = 2 };

/// Groups of output columns, after the identifier.
enum class ColumnGroup : std::uint8_t { Classic, Deficit, Soil, Snow, Precip };

/// The characters that end each line of the table.
enum class LineEnding : std::uint8_t { Cr, Lf, CrLf };

/// The settings of a run, as the window's controls (or the command line)
/// hold them. Texts are kept as typed; the run converts and checks them.
struct Settings {
  std::string tmeanFile = "allsites_temp.txt";   // tmean_field
  std::string precipFile = "allsites_prec.txt";  // precip_field
  std::string latText = "44.47";                 // lat_field, HCN data only
  bool latitudeGiven = true;                     // false when latText is the command line's default, not the user's
  std::string fcText = "100";                    // fc_field, millimetres
  std::string outputFile = "output.txt";         // output_field
  InputFormat format = InputFormat::Tab;         // Format_popup's row
  AvailabilityFunction function = AvailabilityFunction::G;  // Beta_popup
  bool carryover = false;                                   // Carryover_box

  // Beyond the window's controls: the command line and the window's menus.
  std::vector<ColumnGroup> columns{ColumnGroup::Classic};  // the table's columns after the identifier
  LineEnding lineEnding = LineEnding::Cr;                  // the table's line ends
  bool keepPrecipitationFraction = false;                  // use precipitation with its decimals
  bool strict = false;         // any input warning fails the run, and no table is put in place
  int fieldCapacityField = 0;  // tab-delimited: field of the precipitation line with the record's own
                               // field capacity (from 1; 0 for none)
};

}  // namespace vadoset
