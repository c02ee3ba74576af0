#include "output/columns.h"

#include <array>

#include "platform/double_text.h"
#include "platform/text.h"

namespace vadoset {

namespace {

void monthNames(std::vector<std::string>& out, std::string_view prefix) {
  for (int m = 1; m <= kMonths; ++m) {
    std::string name(prefix);
    name += static_cast<char>('0' + m / 10);
    name += static_cast<char>('0' + m % 10);
    out.push_back(std::move(name));
  }
}

void classicNames(std::vector<std::string>& out) {
  monthNames(out, "PET_");
  monthNames(out, "AET_");
  monthNames(out, "SURPLUS_");
  out.insert(out.end(), {"PET", "AET", "SURPLUS"});
}

void classicValues(const RecordInput&, const RecordResult& r, double* out) {
  for (int m = 0; m < kMonths; ++m) {
    out[m] = r.pet[m];
    out[kMonths + m] = r.aet[m];
    out[2 * kMonths + m] = r.surplus[m];
  }
  const AnnualTotals totals = annualTotals(r);
  out[36] = totals.pet;
  out[37] = totals.aet;
  out[38] = totals.surplus;
}

void deficitNames(std::vector<std::string>& out) {
  monthNames(out, "DEFICIT_");
  out.emplace_back("DEFICIT");
}

void deficitValues(const RecordInput&, const RecordResult& r, double* out) {
  for (int m = 0; m < kMonths; ++m) out[m] = r.pet[m] - r.aet[m];
  out[kMonths] = annualTotals(r).deficit;
}

void soilNames(std::vector<std::string>& out) {
  monthNames(out, "SOIL_");
}
void soilValues(const RecordInput&, const RecordResult& r, double* out) {
  for (int m = 0; m < kMonths; ++m) out[m] = r.soil[m];
}
void snowNames(std::vector<std::string>& out) {
  monthNames(out, "SNOW_");
}
void snowValues(const RecordInput&, const RecordResult& r, double* out) {
  for (int m = 0; m < kMonths; ++m) out[m] = r.snow[m];
}
void precipNames(std::vector<std::string>& out) {
  monthNames(out, "PRECIP_");
}
void precipValues(const RecordInput& in, const RecordResult&, double* out) {
  for (int m = 0; m < kMonths; ++m) out[m] = in.ppt[m];
}

constexpr std::size_t kMaxValues = 39 + 13 + 12 + 12 + 12;

const std::array<ColumnGroupDescription, 5> kGroups = {{
    {ColumnGroup::Classic, "classic", 39, classicNames, classicValues},
    {ColumnGroup::Deficit, "deficit", 13, deficitNames, deficitValues},
    {ColumnGroup::Soil, "soil", 12, soilNames, soilValues},
    {ColumnGroup::Snow, "snow", 12, snowNames, snowValues},
    {ColumnGroup::Precip, "precip", 12, precipNames, precipValues},
}};

}  // namespace

std::span<const ColumnGroupDescription> columnGroups() {
  return kGroups;
}

const ColumnGroupDescription& columnGroup(ColumnGroup group) {
  for (const ColumnGroupDescription& g : kGroups)
    if (g.group == group) return g;
  return kGroups.front();
}

const ColumnGroupDescription* findColumnGroup(std::string_view cliName) {
  for (const ColumnGroupDescription& g : kGroups)
    if (g.cliName == cliName) return &g;
  return nullptr;
}

TableLayout::TableLayout(std::vector<ColumnGroup> groups, LineEnding ending) {
  lineEnd_ = ending == LineEnding::Cr ? "\r" : ending == LineEnding::Lf ? "\n" : "\r\n";
  std::vector<std::string> names;
  for (ColumnGroup g : groups) {
    const ColumnGroupDescription& d = columnGroup(g);
    // A group named twice is written once.
    bool seen = false;
    for (const ColumnGroupDescription* have : groups_) seen = seen || have == &d;
    if (seen || valueCount_ + d.width > kMaxValues) continue;
    groups_.push_back(&d);
    valueCount_ += d.width;
    d.names(names);
  }
  header_ = "Year or site";
  for (const std::string& n : names) {
    header_ += '\t';
    header_ += n;
  }
  header_ += lineEnd_;
}

std::size_t TableLayout::rowValuesBytes() const {
  return valueCount_ * (kStrBufferSize + 1) + lineEnd_.size() + 2;
}

std::size_t TableLayout::formatRowValues(const RecordInput& in, const RecordResult& result, char* buf) const {
  char* p = buf;
  if (result.isNull()) {
    *p++ = '*';
  } else {
    double values[kMaxValues];
    double* v = values;
    for (const ColumnGroupDescription* g : groups_) {
      g->values(in, result, v);
      v += g->width;
    }
    // The same text as Str, written by the faster shortest-digits formatter:
    // rows are where a run spends its formatting time.
    for (std::size_t i = 0; i < valueCount_; ++i) {
      if (i > 0) *p++ = '\t';
      p += shortestDoubleText(values[i], p);
    }
  }
  for (char c : lineEnd_) *p++ = c;
  return static_cast<std::size_t>(p - buf);
}

}  // namespace vadoset
