#include "bench_records.h"

#include "input/input.h"
#include "run/driver.h"

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
  LoadedInput in;
  RunState& s = in.proto;
  s.settings = settings;
  if (Open_files(s, host) != 1) {
    error = host.messages;
    return std::nullopt;
  }
  fillDaysPerMonth(s);
  s.carryover = settings.carryover;
  while (!s.precip_data->onlyBlankLinesLeft()) {
    Read_data(s);
    BenchRecord r;
    r.tmean = s.tmean;
    r.ppt = s.ppt;
    r.latitude = s.latitude;
    in.records.push_back(r);
  }
  s.precip_data.reset();
  s.tmean_data.reset();
  return in;
}

void loadInto(RunState& s, const BenchRecord& r) {
  s.tmean = r.tmean;
  s.ppt = r.ppt;
  s.latitude = r.latitude;
}

}  // namespace vadoset::bench
