#include "bench_records.h"

#include "input/formats.h"
#include "run/row_loop.h"
#include "run/run.h"

namespace vadoset::bench {

std::optional<LoadedInput> loadRecords(const Settings& settings, std::string& error) {
  const RunConfig config = makeRunConfig(settings, "", "");
  RunObserver quiet;
  OpenedInputs opened = Open_files(config, quiet);
  if (!opened.inputs) {
    for (const RunProblem& p : opened.problems) error += (error.empty() ? "" : "\n") + p.message();
    return std::nullopt;
  }
  RunInputs& files = *opened.inputs;
  const RunPlan plan = planFor(config, files);
  LoadedInput in;
  in.model = plan.model;
  while (!files.precip->onlyBlankLinesLeft()) {
    in.lines.emplace_back();
    plan.format->nextRecord(*files.precip, in.lines.back());
    in.lines.emplace_back();
    plan.format->nextRecord(*files.tmean, in.lines.back());
    in.texts.emplace_back();
    RecordInput r;
    readRecord(*plan.format, in.lines[in.lines.size() - 2], in.lines.back(), plan.read, r, in.texts.back());
    in.records.push_back(r);
  }
  return in;
}

}  // namespace vadoset::bench
