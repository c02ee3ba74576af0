#include <cmath>
#include <limits>

#include "input/input.h"
#include "platform/text.h"
#include "run/run_state.h"

namespace vadoset {

namespace {

constexpr std::int32_t kMissingPpt = 9999;
constexpr double kMissingTmean = 9999.0;

// A month is missing when it is marked so, or its field holds no number
// (empty, blank, text, or cut off by a short line), or it holds -9999 in any
// spelling ("-9999.0"). Precipitation must also fit a 32-bit integer; the
// fraction of a millimetre is dropped.
std::int32_t readPpt(std::string_view field) {
  std::optional<double> v = ParseNumber(field);
  if (!v || *v == -9999.0) return kMissingPpt;
  return ToInt32(*v).value_or(kMissingPpt);
}

double readTmean(std::string_view field) {
  std::optional<double> v = ParseNumber(field);
  if (!v || *v == -9999.0) return kMissingTmean;
  return *v;
}

}  // namespace

void readTabRecord(RunState& s, std::string_view precipLine, std::string_view tmeanLine) {
  constexpr char kTab = '\t';
  s.year.assign(NthField(precipLine, kTab, 1));
  std::optional<double> lat = ParseNumber(NthField(precipLine, kTab, 2));
  s.latitude = (lat && *lat >= -90.0 && *lat <= 90.0) ? *lat : std::numeric_limits<double>::quiet_NaN();
  // Walk the fields once rather than searching from the start for each month.
  std::string_view prest = precipLine;
  std::string_view trest = tmeanLine;
  auto nextField = [](std::string_view& rest, bool& ended) -> std::string_view {
    if (ended) return {};
    std::size_t p = rest.find(kTab);
    std::string_view f = rest.substr(0, p);
    if (p == std::string_view::npos) {
      ended = true;
      rest = {};
    } else {
      rest.remove_prefix(p + 1);
    }
    return f;
  };
  bool pEnded = false;
  bool tEnded = false;
  nextField(prest, pEnded);
  nextField(prest, pEnded);
  nextField(trest, tEnded);
  nextField(trest, tEnded);
  for (int m = 1; m <= 12; ++m) {
    std::string_view pf = nextField(prest, pEnded);
    std::string_view tf = nextField(trest, tEnded);
    s.ppt[m] = (pf == "NA") ? kMissingPpt : readPpt(pf);
    s.tmean[m] = (tf == "NA") ? kMissingTmean : readTmean(tf);
  }
}

void readHcnRecord(RunState& s, std::string_view precipLine, std::string_view tmeanLine) {
  s.latitude = s.hcn_latitude;
  s.year.assign(Mid(precipLine, 13, 4));
  for (int m = 1; m <= 12; ++m) {
    const std::size_t p = 17 + 5 * static_cast<std::size_t>(m - 1);
    s.ppt[m] = readPpt(Mid(precipLine, p, 5));
    s.tmean[m] = readTmean(Mid(tmeanLine, p, 5));
  }
}

void Read_data(RunState& s) {
  // The precipitation line first; after the end of the temperature file its
  // line is empty, and the record becomes a null row.
  const std::string& precipLine = s.precip_data->ReadLine();
  const std::string& tmeanLine = s.tmean_data->ReadLine();
  if (s.settings.format == 1)
    readHcnRecord(s, precipLine, tmeanLine);
  else
    readTabRecord(s, precipLine, tmeanLine);
}

}  // namespace vadoset
