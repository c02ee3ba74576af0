#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/text_stream.h"
#include "state/host.h"

namespace vadoset {

/// Months are indexed 1 (January) to 12 (December); element 0 is never used.
template <typename T>
using MonthArray = std::array<T, 13>;

/// Days 0 (start of the year) to 365 (end of the year).
using DayArray = std::array<double, 366>;

/// Everything the steps of a run share. Nothing in it is cleared between
/// runs: each field is overwritten when its writer next runs, and the
/// carried soil water (current_w, current_ws) survives from run to run.
struct RunState {
  MonthArray<double> tmean{};  // °C (HCN: tenths until Run_pet converts); 9999 = missing
  double latitude = 0.0;       // decimal degrees; NaN when the record's field held none
  std::string year;            // the record's identifier, unchanged
  MonthArray<std::int32_t> dm{};
  std::unique_ptr<TextInputStream> precip_data;
  std::unique_ptr<TextInputStream> tmean_data;
  std::int32_t nullcell = 0;       // 1: the record is written as a null row
  MonthArray<std::int32_t> ppt{};  // mm (HCN: tenths until Run_model converts); 9999 = missing
  std::unique_ptr<TextOutputStream> aet_out;
  MonthArray<double> PET{};
  MonthArray<double> E{};
  std::int32_t fc = 0;  // field capacity, whole millimetres
  bool year_one = false;
  double current_w = 0.0;   // soil water carried to the next record
  double current_ws = 0.0;  // snowpack water equivalent carried with it
  MonthArray<double> Surplus{};
  bool carryover = false;

  // The settings in force for the run, taken from the host when it starts.
  // The steps read the format, function and latitude from here.
  Settings settings;
  double hcn_latitude = 0.0;  // lat_field as a number, HCN data only

  // The header lines, as read; formats that take columns from them read
  // them again when the records start.
  std::string precip_header;
  std::string tmean_header;
  // The lines of the record in hand (Read_data).
  std::string precip_scratch;
  std::string tmean_scratch;

  // The daily soil water and snowpack of the last Run_model call.
  DayArray w{};
  DayArray ws{};
  // Passes of the year that the last Run_model call took (for tests;
  // nothing in a run reads it).
  std::int32_t passes = 0;
  // Tests only: spin up every record to its end, without the early end of a
  // year that provably never settles. The table is the same either way.
  bool exhaustiveSpinUp = false;
};

}  // namespace vadoset
