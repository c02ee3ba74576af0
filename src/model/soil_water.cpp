#include "model/engine.h"
#include "model/model.h"
#include "platform/text.h"
#include "state/host.h"
#include "state/run_state.h"

namespace vadoset {

void Run_model(RunState& s, Host* host) {
  if (s.settings.format == InputFormat::Hcn) {
    // HCN files store tenths of a millimetre; whole millimetres are kept.
    for (int m = 1; m <= 12; ++m) s.ppt[m] = ToInt32(static_cast<double>(s.ppt[m]) / 10.0).value_or(0);
  }
  RecordInput in;
  in.fieldCapacity = static_cast<double>(s.fc);
  RecordResult r;
  for (int m = 1; m <= 12; ++m) {
    in.tmean[m - 1] = s.tmean[m];
    in.ppt[m - 1] = static_cast<double>(s.ppt[m]);
    r.pet[m - 1] = s.PET[m];
  }
  ModelParams params;
  params.function = s.settings.function;
  params.carryover = s.carryover;
  params.exhaustiveSpinUp = s.exhaustiveSpinUp;
  RecordEngine engine(params);
  if (host != nullptr) engine.setPassCallback([](void* h) { static_cast<Host*>(h)->backgroundTask(); }, host);
  CarriedState carried{s.current_w, s.current_ws, s.year_one};
  DayTrace trace;
  engine.Run_model(in, carried, r, &trace);
  s.current_w = carried.soil;
  s.current_ws = carried.snow;
  s.year_one = carried.yearOne;
  if (r.isNull()) s.nullcell = 1;
  s.passes = r.passes;
  for (int m = 1; m <= 12; ++m) {
    s.E[m] = r.aet[m - 1];
    s.Surplus[m] = r.surplus[m - 1];
  }
  s.w = trace.soil;
  s.ws = trace.snow;
}

}  // namespace vadoset
