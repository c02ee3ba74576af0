// The record engine alone on one thread: every record of a tab-delimited
// pair is read into memory first, then only the engine is timed: its batch
// form in blocks of 64 records (vector lanes, as the Python package calls
// it), or with "scalar" RecordEngine::compute one record at a time. The
// yardstick for vadoset.water_balance(threads=1) and the grid tool.
//
// Built from the engine's own target with the benchmarks (bench/CMakeLists.txt):
//   cmake --build build/bench --target vadoset-engine-only
//   build/bench/bin/vadoset-engine-only build/bench-data/100k [repeat] [batch|carryover|scalar]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "model/engine.h"

using namespace vadoset;

namespace {

// Fields 2 to 14 of every line after the header; what is no number is NaN.
std::vector<std::vector<double>> readTab(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  std::vector<std::vector<double>> rows;
  while (std::getline(in, line)) {
    std::vector<double> row;
    std::size_t start = line.find('\t');
    while (start != std::string::npos && row.size() < 13) {
      const char* p = line.c_str() + start + 1;
      char* end = nullptr;
      double v = std::strtod(p, &end);
      row.push_back(end == p ? NAN : v);
      start = line.find('\t', start + 1);
    }
    row.resize(13, NAN);
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: engine-only PREFIX [repeat] [batch|carryover|scalar]\n");
    return 2;
  }
  const std::string prefix = argv[1];
  const int repeat = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::string mode = argc > 3 ? argv[3] : "batch";
  const bool carryover = mode == "carryover";
  const bool scalar = mode == "scalar";
  auto prec = readTab(prefix + "_prec.txt");
  auto temp = readTab(prefix + "_temp.txt");
  std::vector<RecordInput> records(prec.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    RecordInput& r = records[i];
    r.latitude = prec[i][0] >= -90 && prec[i][0] <= 90 ? prec[i][0] : NAN;
    for (int m = 0; m < kMonths; ++m) {
      const double p = prec[i][m + 1];
      const double t = std::trunc(p);
      r.ppt[m] = (std::isnan(p) || p == -9999.0 || !(t >= -2147483648.0 && t <= 2147483647.0) || t == 9999.0)
                     ? NAN
                     : static_cast<double>(static_cast<std::int32_t>(t));
      const double tm = temp[i][m + 1];
      r.tmean[m] = (tm == -9999.0 || tm == 9999.0) ? NAN : tm;
    }
    r.fieldCapacity = 100.0;
  }
  std::vector<double> seconds, cpu;
  double checksum = 0.0;
  for (int k = 0; k < repeat; ++k) {
    ModelParams params;
    params.carryover = carryover;
    RecordEngine engine(params);
    CarriedState carried;
    RecordResult result;
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();
    if (carryover || scalar) {
      for (const RecordInput& r : records) {
        engine.compute(r, carried, result);
        if (!result.isNull()) checksum += result.aet[6];
      }
    } else {
      constexpr std::size_t kBlock = 64;
      std::vector<RecordResult> out(kBlock);
      for (std::size_t i = 0; i < records.size(); i += kBlock) {
        const std::size_t n = std::min(kBlock, records.size() - i);
        engine.computeBatch({records.data() + i, n}, {out.data(), n}, carried);
        for (std::size_t j = 0; j < n; ++j)
          if (!out[j].isNull()) checksum += out[j].aet[6];
      }
    }
    cpu.push_back(static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC);
    seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  // Medians of the wall and CPU times; CPU time holds up better on a busy machine.
  std::sort(seconds.begin(), seconds.end());
  std::sort(cpu.begin(), cpu.end());
  const double median = seconds[seconds.size() / 2];
  const double cpuMedian = cpu[cpu.size() / 2];
  const auto n = static_cast<double>(records.size());
  std::printf("records=%zu mode=%s median_s=%.3f records_per_s=%.0f cpu_s=%.3f records_per_cpu_s=%.0f checksum=%.6f\n",
              records.size(), mode.c_str(), median, n / median, cpuMedian, n / cpuMedian, checksum);
  return 0;
}
