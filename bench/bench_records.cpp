#include "bench_records.h"

#include "input/formats.h"
#include "input/input.h"
#include "run/driver.h"
#include "run/row_loop.h"
#include "state/host.h"
#include "state/run_state.h"

namespace vadoset::bench {

namespace {

class LoadHost final : public Host {
 public:
  explicit LoadHost(const Settings& s) : settings_(s) {}
  Settings settings() override { return settings_; }
  std::optional<std::string> selectFolder(std::string_view, std::string_view) override { return std::string(); }
  void showMessage(std::string_view text) override {
    if (!messages.empty()) messages += '\n';
    messages += text;
  }
  void setCounter(std::string_view) override {}
  std::string messages;

 private:
  Settings settings_;
};

}  // namespace

std::optional<LoadedInput> loadRecords(const Settings& settings, std::string& error) {
  LoadHost host(settings);
  RunState s;
  s.settings = settings;
  if (Open_files(s, host) != 1) {
    error = host.messages;
    return std::nullopt;
  }
  s.carryover = settings.carryover;
  const RunPlan plan = planFor(s);
  LoadedInput in;
  in.model = plan.model;
  while (!s.precip_data->onlyBlankLinesLeft()) {
    in.lines.push_back(plan.format->nextRecord(*s.precip_data, s.precip_scratch));
    in.lines.push_back(plan.format->nextRecord(*s.tmean_data, s.tmean_scratch));
    RecordInput r;
    readRecord(*plan.format, in.lines[in.lines.size() - 2], in.lines.back(), plan.read, r);
    in.records.push_back(r);
  }
  return in;
}

}  // namespace vadoset::bench
