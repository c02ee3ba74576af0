// The header's column names and the bounds of the Earth's climates that the
// input checks rest on, tried on published normals of 157 stations.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "input/column_names.h"
#include "model/climate_bounds.h"
#include "test_support.h"

namespace vadoset {
namespace {

TEST(ColumnNames, MonthsAndOtherColumnsInTheCommonLanguages) {
  struct Case {
    const char* name;
    ColumnKind kind;
    int month;
  };
  const Case cases[] = {
      {"Jan", ColumnKind::Month, 1},       {"janvier", ColumnKind::Month, 1},
      {"Gen", ColumnKind::Month, 1},       {"Févr.", ColumnKind::Month, 2},
      {"März", ColumnKind::Month, 3},      {"mrt", ColumnKind::Month, 3},
      {"Maio", ColumnKind::Month, 5},      {"juin", ColumnKind::Month, 6},
      {"Juil", ColumnKind::Month, 7},      {"jui", ColumnKind::Other, 0},
      {"août", ColumnKind::Month, 8},      {"Sept", ColumnKind::Month, 9},
      {"Okt", ColumnKind::Month, 10},      {"outubro", ColumnKind::Month, 10},
      {"DIC", ColumnKind::Month, 12},      {"prec_Dec (mm)", ColumnKind::Month, 12},
      {"03", ColumnKind::Month, 3},        {"m12", ColumnKind::Month, 12},
      {"13", ColumnKind::Other, 0},        {"1991", ColumnKind::Other, 0},
      {"Jan-Feb", ColumnKind::Other, 0},   {"Annual", ColumnKind::Annual, 0},
      {"Jahr", ColumnKind::Annual, 0},     {"Total (mm)", ColumnKind::Annual, 0},
      {"Année", ColumnKind::Annual, 0},    {"\xEF\xBB\xBFLat", ColumnKind::Latitude, 0},
      {"Breite", ColumnKind::Latitude, 0}, {"Länge", ColumnKind::Longitude, 0},
      {"LON", ColumnKind::Longitude, 0},   {"Site", ColumnKind::Other, 0},
      {"", ColumnKind::Other, 0},
  };
  for (const Case& c : cases) {
    const ColumnName n = readColumnName(c.name);
    EXPECT_EQ(static_cast<int>(n.kind), static_cast<int>(c.kind)) << c.name;
    EXPECT_EQ(n.month, c.month) << c.name;
  }
}

TEST(ColumnNames, TheFirstColumnOutOfPlace) {
  struct Case {
    std::vector<std::string_view> names;
    bool latitudeUsed;
    int field;  // 0: none
    HeaderProblem::What what;
  };
  using P = HeaderProblem;
  const std::vector<std::string_view> good = {"Site", "Lat", "Jan", "Feb", "Mar", "Apr", "May",
                                              "Jun",  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  auto with = [&](std::size_t at, std::string_view name, bool insert) {
    std::vector<std::string_view> n = good;
    if (insert) {
      n.insert(n.begin() + static_cast<long>(at), name);
    } else {
      n[at] = name;
    }
    return n;
  };
  const Case cases[] = {
      {good, true, 0, P::OutOfPlace},
      {with(14, "Annual", true), true, 0, P::OutOfPlace},  // after December: not read
      {with(2, "Annual", true), true, 3, P::AnnualAmongMonths},
      {with(1, "Lon", false), true, 2, P::LongitudeAsLatitude},
      {with(1, "Lon", false), false, 0, P::OutOfPlace},  // the temperature file's latitude is not read
      {with(2, "Lon", true), true, 3, P::OutOfPlace},
      {with(1, "Jan", false), true, 2, P::OutOfPlace},  // no latitude column
      {{"a", "b", "c"}, true, 0, P::OutOfPlace},        // free text
  };
  for (const Case& c : cases) {
    const std::optional<HeaderProblem> p = findHeaderProblem(c.names, c.latitudeUsed);
    EXPECT_EQ(p ? p->field : 0, c.field) << c.names.size() << " names, field 2 " << c.names[1];
    if (p && c.field != 0) {
      EXPECT_EQ(p->what, c.what) << c.field;
    }
  }
}

struct Station {
  std::string name;
  double latitude;
  double t[12], p[12];
};

std::vector<Station> normals() {
  auto read = [](const char* file) {
    std::ifstream in(std::string(VADOSET_SOURCE_DIR) + "/tests/data/normals/" + file);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) rows.push_back(test::splitTabs(line));
    return rows;
  };
  const auto t = read("temp.txt"), p = read("prec.txt");
  std::vector<Station> out(t.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    out[i].name = p[i][0];
    out[i].latitude = std::stod(p[i][1]);
    for (int m = 0; m < 12; ++m) {
      out[i].t[m] = std::stod(t[i][static_cast<std::size_t>(m + 2)]);
      out[i].p[m] = std::stod(p[i][static_cast<std::size_t>(m + 2)]);
    }
  }
  return out;
}

// Every real climate passes; the same station in another scale, without its
// latitude's sign or with its precipitation in another unit is caught.
TEST(ClimateBounds, RealNormalsPassAndTheirMistakesAreCaught) {
  const std::vector<Station> stations = normals();
  ASSERT_GE(stations.size(), 150u);
  int southernBeyondTropics = 0, tooLow = 0, tooHigh = 0, inInches = 0, inTenths = 0, temperate = 0, notToldF = 0;
  for (const Station& s : stations) {
    const climate::Temperatures t = climate::summarize(s.t);
    EXPECT_TRUE(climate::plausibleCelsius(t, s.latitude)) << s.name;
    EXPECT_NE(climate::seasonsFor(t, s.latitude), climate::Seasons::Reversed) << s.name;
    double f[12], k[12], tenths[12], total = 0.0;
    for (int m = 0; m < 12; ++m) {
      f[m] = s.t[m] * 1.8 + 32.0;
      k[m] = s.t[m] + 273.15;
      tenths[m] = s.t[m] * 10.0;
      total += s.p[m];
    }
    const climate::ScaleFit asF = climate::scaleFit(f, s.latitude), asK = climate::scaleFit(k, s.latitude);
    notToldF += !asF.celsius && asF.fahrenheit ? 0 : 1;
    EXPECT_TRUE(!asK.celsius && asK.kelvin) << s.name;
    EXPECT_FALSE(climate::scaleFit(tenths, s.latitude).celsius && t.warmest - t.coldest > 1.0) << s.name;
    if (s.latitude <= -climate::kTropics) {
      ++southernBeyondTropics;
      EXPECT_EQ(climate::seasonsFor(t, -s.latitude), climate::Seasons::Reversed) << s.name;
    }
    tooHigh += climate::precipitationFit(total, t.mean) == climate::PrecipitationFit::TooHigh ? 1 : 0;
    tooLow += climate::precipitationFit(total, t.mean) == climate::PrecipitationFit::TooLow ? 1 : 0;
    if (t.mean >= climate::kDryColdest && t.mean < climate::kDryWarmest) {
      ++temperate;
      inInches += climate::precipitationFit(total / 25.4, t.mean) == climate::PrecipitationFit::TooLow ? 1 : 0;
    }
    inTenths += climate::precipitationFit(total * 10.0, t.mean) == climate::PrecipitationFit::TooHigh ? 1 : 0;
  }
  EXPECT_GE(southernBeyondTropics, 20);
  // Only the coldest places in °F (the South Pole, an alpine summit) look
  // like °C. The deserts and the very wettest places stay a few, too few
  // for a warning about the bulk of a file; in another unit, most records
  // are off.
  EXPECT_LE(notToldF, 3);
  EXPECT_LE(tooLow, 5);
  EXPECT_LE(tooHigh, 5);
  EXPECT_GT(inInches * 2, temperate);
  EXPECT_GT(inTenths * 2, static_cast<int>(stations.size()));
}

}  // namespace
}  // namespace vadoset
