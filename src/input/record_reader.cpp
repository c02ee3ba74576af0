#include <cmath>

#include "input/formats.h"
#include "input/input.h"
#include "state/run_state.h"

namespace vadoset {

void Read_data(RunState& s) {
  // The precipitation line first; after the end of the temperature file its
  // line is empty, and the record becomes a null row.
  const InputFormatDescription& format = formatDescription(s.settings.format);
  std::string& precipLine = s.precip_scratch;
  std::string& tmeanLine = s.tmean_scratch;
  precipLine.clear();
  tmeanLine.clear();
  format.nextRecord(*s.precip_data, precipLine);
  format.nextRecord(*s.tmean_data, tmeanLine);
  ReadOptions options = readOptionsFor(s.settings, static_cast<double>(s.fc), s.hcn_latitude);
  options.keepPrecipitationFraction = false;  // the run state holds whole numbers
  if (format.readHeaders != nullptr) format.readHeaders(s.precip_header, s.tmean_header, options);
  RecordInput in;
  std::string text;
  format.parse(precipLine, tmeanLine, options, in, text);
  // The run state keeps the file's units and marks a missing month with 9999.
  s.year.assign(in.id);
  s.latitude = in.latitude;
  for (int m = 1; m <= 12; ++m) {
    s.ppt[m] = std::isnan(in.ppt[m - 1]) ? 9999 : static_cast<std::int32_t>(in.ppt[m - 1]);
    s.tmean[m] = std::isnan(in.tmean[m - 1]) ? 9999.0 : in.tmean[m - 1];
  }
}

}  // namespace vadoset
