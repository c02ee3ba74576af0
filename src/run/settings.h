#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/formats.h"
#include "model/engine.h"
#include "output/columns.h"

namespace vadoset {

/// The settings of a run, as the window's controls (or the command line)
/// hold them. Texts are kept as typed; makeRunConfig converts them, and the
/// run reports the ones it cannot use.
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
  std::string nullReportFile;  // why each null row is null; empty for no report, "-" standard output
  int threads = 1;             // computing threads
};

}  // namespace vadoset
