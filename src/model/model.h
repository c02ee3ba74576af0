#pragma once

#include <cstdint>

#include "model/beta.h"

namespace vadoset {

struct RunState;
class Host;

/// Fills PET (months 1 to 12) from tmean, latitude and dm; for HCN data it
/// first converts tmean from tenths of a degree, in place.
void Run_pet(RunState& s);

/// Fills E and Surplus with the daily snow and soil-water bucket, spun up to
/// a steady state or carried over from the previous record; sets nullcell
/// when the year finds no steady state. For HCN data it first converts ppt
/// from tenths of a millimetre, in place. When host is given, its
/// background task runs once per pass of the year, never inside the day loop.
void Run_model(RunState& s, Host* host = nullptr);

}  // namespace vadoset
