// The lane engine on arbitrary records: every vector level the CPU has, with
// the vector exp and with std::exp per lane, must give the scalar engine's
// bits for every record, and computeBatch with carry-over the chain of
// compute calls.
//
// Input layout: byte 0 the function (low 4 bits; 8 to 15 draw nothing),
// bit 4 carry-over, bit 5 no early end for function A; then records of 26
// values each (latitude, field capacity, 12 temperatures, 12 precipitations),
// at most 40 records. A value's first byte chooses its form: below 0x80 a
// plain number (a 16-bit integer over 10, as the readers make), below 0xC0 a
// double's raw bits (any value, infinities and NaN included), else one of a
// few values at the edges.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "model/engine.h"
#include "model/lanes.h"

namespace {

using namespace vadoset;

void check(bool ok, const char* what, const std::string& detail) {
  if (ok) return;
  std::fprintf(stderr, "lanes_fuzz: %s: %s\n", what, detail.c_str());
  std::abort();
}

// Bytes from the front of the input; past its end, zeros.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t u16() {
    const std::uint16_t lo = byte();
    return static_cast<std::uint16_t>(lo | (byte() << 8));
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

constexpr std::size_t kMaxRecords = 40;

double value(ByteReader& r) {
  const std::uint8_t form = r.byte();
  if (form < 0x80) return static_cast<double>(static_cast<std::int16_t>(r.u16())) / 10.0;
  if (form < 0xC0) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= std::uint64_t{r.byte()} << (8 * i);
    return std::bit_cast<double>(bits);
  }
  constexpr double inf = std::numeric_limits<double>::infinity();
  const double edges[] = {0.0, -0.0, inf, -inf, 1e308, -1e308, 5e-324, 1e-300, 0x1p-54, 512.0, -1.0, 26.5};
  return edges[form % (sizeof edges / sizeof edges[0])];
}

bool same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same(const RecordResult& a, const RecordResult& b) {
  for (std::size_t m = 0; m < 12; ++m)
    if (!same(a.pet[m], b.pet[m]) || !same(a.aet[m], b.aet[m]) || !same(a.surplus[m], b.surplus[m]) ||
        !same(a.soil[m], b.soil[m]) || !same(a.snow[m], b.snow[m]))
      return false;
  return a.reason == b.reason && a.month == b.month && a.passes == b.passes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader r(data, size);
  const std::uint8_t flags = r.byte();
  ModelParams params;
  params.function = static_cast<AvailabilityFunction>(flags & 0x0F);
  params.carryover = (flags & 0x10) != 0;
  params.exhaustiveSpinUp = (flags & 0x20) != 0;
  std::vector<RecordInput> in;
  const std::size_t recordBytes = 26 * 3;  // at least
  while (in.size() < kMaxRecords && (size > 1 + in.size() * recordBytes)) {
    RecordInput rec;
    rec.latitude = value(r);
    rec.fieldCapacity = value(r);
    for (double& t : rec.tmean) t = value(r);
    for (double& p : rec.ppt) p = value(r);
    in.push_back(rec);
  }

  const CarriedState start{value(r), value(r), (flags & 0x40) == 0};
  RecordEngine scalar(params);
  std::vector<RecordResult> want(in.size());
  CarriedState wantCarried = start;
  for (std::size_t i = 0; i < in.size(); ++i) scalar.compute(in[i], wantCarried, want[i]);

  auto compare = [&](const std::vector<RecordResult>& got, const CarriedState& carried, const std::string& what) {
    for (std::size_t i = 0; i < in.size(); ++i)
      check(same(want[i], got[i]), "the lanes differ from the scalar engine", what + ", record " + std::to_string(i));
    check(same(carried.soil, wantCarried.soil) && same(carried.snow, wantCarried.snow) &&
              carried.yearOne == wantCarried.yearOne,
          "the carried state differs from the scalar engine's", what);
  };

  if (params.carryover) {
    RecordEngine engine(params);
    std::vector<RecordResult> got(in.size());
    CarriedState carried = start;
    engine.computeBatch(in, got, carried);
    compare(got, carried, "computeBatch with carry-over");
    return 0;
  }
  for (lanes::SimdLevel level : {lanes::SimdLevel::Avx2, lanes::SimdLevel::Avx512}) {
    if (!lanes::simdLevelSupported(level)) continue;
    for (lanes::ExpMode exp : {lanes::ExpMode::PerLane, lanes::ExpMode::Vector}) {
      if (exp == lanes::ExpMode::Vector && lanes::activeExpMode(level) != lanes::ExpMode::Vector) continue;
      // The vector pow with the vector exp, std::pow per lane with std::exp.
      const lanes::PowMode pow = exp == lanes::ExpMode::Vector ? lanes::activePowMode(level) : lanes::PowMode::PerLane;
      RecordEngine engine(params);
      std::vector<RecordResult> got(in.size());
      CarriedState carried = start;
      lanes::computeIndependent(engine, level, exp, pow, in, got, carried);
      compare(got, carried,
              std::string(lanes::simdLevelName(level)) +
                  (exp == lanes::ExpMode::Vector ? " vector exp" : " exp per lane") +
                  (pow == lanes::PowMode::Vector ? ", vector pow" : ", pow per lane"));
    }
  }
  return 0;
}
