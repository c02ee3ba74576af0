#include "input/column_names.h"

#include <array>
#include <cstdint>
#include <vector>

namespace vadoset {

namespace {

// The month names of the common European languages, without accents. A word
// is a month when it is one of these names, or the start of the names of one
// month only, three letters at least ("jan", "févr", "juil", "sept").
constexpr std::array<std::string_view, 12 * 8> kMonthNames = {
    "january",  "januar",    "janvier",   "enero",      "gennaio",   "janeiro",  "januari", "jan",      "february",
    "februar",  "fevrier",   "febrero",   "febbraio",   "fevereiro", "februari", "feb",     "march",    "marz",
    "mars",     "marzo",     "marco",     "maart",      "mar",       "mrt",      "april",   "avril",    "abril",
    "aprile",   "apr",       "avr",       "abr",        "apr",       "may",      "mai",     "mayo",     "maggio",
    "maio",     "mei",       "maj",       "may",        "june",      "juni",     "juin",    "junio",    "giugno",
    "junho",    "jun",       "jun",       "july",       "juli",      "juillet",  "julio",   "luglio",   "julho",
    "jul",      "jul",       "august",    "aout",       "agosto",    "augustus", "augusti", "aug",      "ago",
    "aug",      "september", "septembre", "septiembre", "settembre", "setembro", "sep",     "set",      "sept",
    "october",  "oktober",   "octobre",   "octubre",    "ottobre",   "outubro",  "okt",     "oct",      "november",
    "novembre", "noviembre", "novembro",  "nov",        "nov",       "nov",      "nov",     "december", "dezember",
    "decembre", "diciembre", "dicembre",  "dezembro",   "desember",  "dec",
};

// Words of a column of the whole year: its total, sum or mean.
constexpr std::string_view kAnnualWords[] = {"annual", "annum",   "ann",    "year",     "yearly", "yr",      "total",
                                             "sum",    "jahr",    "summe",  "gesamt",   "annee",  "anual",   "anno",
                                             "ano",    "totale",  "totaal", "jaar",     "mean",   "average", "avg",
                                             "mittel", "moyenne", "media",  "gemiddeld"};
constexpr std::string_view kLatitudeWords[] = {"lat", "latitude", "breite", "breitengrad", "latitud", "latitudine"};
constexpr std::string_view kLongitudeWords[] = {"lon",    "long",       "longitude", "lng",        "lange",
                                                "laenge", "langengrad", "longitud",  "longitudine"};
// Words that may stand beside a month's number ("m03", "prec_3", "T 12").
constexpr std::string_view kNumberedMonthWords[] = {"m",      "mo",   "mon",   "month", "monat", "mes",
                                                    "mois",   "mese", "maand", "p",     "pr",    "prec",
                                                    "precip", "ppt",  "rain",  "t",     "tmean", "temp"};

// Folds a name to lower-case ASCII words: the Latin letters of UTF-8 with
// accents lose them (é, ä, ñ, ç, ø, ß), every other byte separates words.
std::vector<std::string> words(std::string_view name) {
  std::vector<std::string> out;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) out.push_back(std::move(word));
    word.clear();
  };
  bool digits = false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    char letter = 0;
    bool digit = false;
    if (c >= 'A' && c <= 'Z') {
      letter = static_cast<char>(c - 'A' + 'a');
    } else if (c >= 'a' && c <= 'z') {
      letter = static_cast<char>(c);
    } else if (c >= '0' && c <= '9') {
      letter = static_cast<char>(c);
      digit = true;
    } else if (c == 0xC3 && i + 1 < name.size()) {
      // U+00C0 to U+00FF: the accented Latin letters.
      static constexpr std::string_view kFold = "aaaaaaaceeeeiiiidnooooo ouuuuy saaaaaaaceeeeiiiidnooooo ouuuuy y";
      const auto next = static_cast<unsigned char>(name[i + 1]);
      if (next >= 0x80 && next <= 0xBF) {
        const char f = kFold[next - 0x80];
        ++i;
        if (f == 's') {
          if (digits) flush();
          digits = false;
          word += "ss";
          continue;
        }
        if (f != ' ') letter = f;
      }
    }
    if (letter == 0 || digit != digits) flush();
    if (letter == 0) continue;
    digits = digit;
    word += letter;
  }
  flush();
  return out;
}

bool isOneOf(std::string_view word, std::span<const std::string_view> list) {
  for (std::string_view w : list)
    if (w == word) return true;
  return false;
}

// The month a word names, or 0.
int monthOfWord(std::string_view word) {
  if (word.size() < 3) return 0;
  int found = 0;
  for (std::size_t i = 0; i < kMonthNames.size(); ++i) {
    const std::string_view name = kMonthNames[i];
    if (name.substr(0, word.size()) != word) continue;
    const int month = static_cast<int>(i / 8) + 1;
    if (name == word) return month;
    if (found != 0 && found != month) return 0;  // "jui": June or July
    found = month;
  }
  return found;
}

bool isDigits(std::string_view w) {
  return !w.empty() && w.front() >= '0' && w.front() <= '9';
}

}  // namespace

ColumnName readColumnName(std::string_view name) {
  const std::vector<std::string> ws = words(name);
  int month = 0, number = 0, numbers = 0;
  bool annual = false, latitude = false, longitude = false, otherWords = false;
  for (const std::string& w : ws) {
    if (isDigits(w)) {
      ++numbers;
      number = w.size() <= 2 ? std::stoi(w) : 0;
      continue;
    }
    if (const int m = monthOfWord(w)) {
      if (month != 0 && month != m) return {};  // "Jan-Feb"
      month = m;
    } else if (isOneOf(w, kAnnualWords)) {
      annual = true;
    } else if (isOneOf(w, kLatitudeWords)) {
      latitude = true;
    } else if (isOneOf(w, kLongitudeWords)) {
      longitude = true;
    } else if (!isOneOf(w, kNumberedMonthWords)) {
      otherWords = true;
    }
  }
  if (month != 0) return {ColumnKind::Month, month};
  if (latitude != longitude) return {latitude ? ColumnKind::Latitude : ColumnKind::Longitude, 0};
  if (annual) return {ColumnKind::Annual, 0};
  // A month's number, alone or with a word such as "m" or "prec".
  if (numbers == 1 && !otherWords && number >= 1 && number <= 12) return {ColumnKind::Month, number};
  return {};
}

std::string expectedColumn(int field) {
  static constexpr std::array<std::string_view, 12> kMonths = {"January",   "February", "March",    "April",
                                                               "May",       "June",     "July",     "August",
                                                               "September", "October",  "November", "December"};
  if (field == 1) return "the identifier";
  if (field == 2) return "the latitude";
  if (field <= 14) return std::string(kMonths[static_cast<std::size_t>(field - 3)]);
  return "a field after December";
}

std::optional<HeaderProblem> findHeaderProblem(std::span<const std::string_view> names, bool latitudeUsed) {
  // Only a header that names months is read: other first lines are free text.
  std::vector<ColumnName> read;
  int months = 0;
  for (std::string_view n : names) {
    read.push_back(readColumnName(n));
    months += read.back().kind == ColumnKind::Month ? 1 : 0;
  }
  if (months == 0) return std::nullopt;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const int field = static_cast<int>(i) + 1;
    const ColumnName c = read[i];
    HeaderProblem p{HeaderProblem::OutOfPlace, field, std::string(names[i]), c};
    switch (c.kind) {
      case ColumnKind::Other:
        continue;
      case ColumnKind::Month:
        if (field == c.month + 2) continue;
        break;
      case ColumnKind::Annual:
        if (field < 3 || field > 14) continue;  // a total after December is not read
        p.what = HeaderProblem::AnnualAmongMonths;
        break;
      case ColumnKind::Latitude:
        if (field == 2) continue;
        break;
      case ColumnKind::Longitude:
        if (field == 2) {
          if (!latitudeUsed) continue;
          p.what = HeaderProblem::LongitudeAsLatitude;
        } else if (field < 3 || field > 14) {
          continue;  // beside the identifier, or after December: not read
        }
        break;
    }
    return p;
  }
  return std::nullopt;
}

}  // namespace vadoset
