#include "model/engine.h"
#include "model/model.h"
#include "state/run_state.h"

namespace vadoset {

void Run_pet(RunState& s) {
  RecordInput in;
  in.latitude = s.latitude;
  for (int m = 1; m <= 12; ++m) {
    // HCN files store tenths of a degree.
    if (s.settings.format == InputFormat::Hcn) s.tmean[m] = s.tmean[m] / 10.0;
    in.tmean[m - 1] = s.tmean[m];
  }
  RecordResult r;
  RecordEngine().Run_pet(in, r);
  for (int m = 1; m <= 12; ++m) s.PET[m] = r.pet[m - 1];
}

}  // namespace vadoset
