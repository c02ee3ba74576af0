#include <cerrno>
#include <cmath>
#include <string>

#include "input/formats.h"
#include "input/input.h"
#include "platform/text.h"
#include "state/host.h"
#include "state/run_state.h"

namespace vadoset {

std::filesystem::path pathInFolder(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::filesystem::path(name);
  return std::filesystem::path(folder) / std::filesystem::path(name);
}

std::string shownName(const std::filesystem::path& path) {
  return path.filename().empty() ? path.string() : path.filename().string();
}

namespace {

// Opens one input file. A missing file "doesn't exist"; anything else that
// is not a readable regular file (a folder, a FIFO, a link loop) "could not
// be read", with the reason.
std::unique_ptr<TextInputStream> openInput(Host& host, std::string_view folder, std::string_view name) {
  std::filesystem::path path = pathInFolder(folder, name);
  int error = 0;
  std::unique_ptr<TextInputStream> stream = TextInputStream::open(path, &error);
  if (!stream) {
    const std::string file = "The file " + shownName(path);
    host.showMessage(error == ENOENT || error == ENOTDIR ? file + " doesn't exist."
                                                         : withCause(file + " could not be read.", error));
  }
  return stream;
}

}  // namespace

std::int32_t Open_files(RunState& s, Host& host) {
  std::optional<std::string> folder = host.selectFolder("Folder containing data files", "Select folder");
  if (!folder) return 0;

  std::int32_t result = 1;
  s.precip_data = openInput(host, *folder, s.settings.precipFile);
  if (!s.precip_data) result = 0;
  s.tmean_data = openInput(host, *folder, s.settings.tmeanFile);
  if (!s.tmean_data) result = 0;

  // The field capacity is whole millimetres, and at least one.
  const double fc = detail::fieldCapacityValue(s.settings.fcText);
  if (!std::isnan(fc)) {
    s.fc = static_cast<std::int32_t>(fc);
  } else {
    host.showMessage("Field capacity must be a positive number of millimetres.");
    result = 0;
  }

  const InputFormatDescription& format = formatDescription(s.settings.format);
  if (format.usesLatitudeSetting) {
    std::optional<double> lat = ParseNumber(s.settings.latText);
    if (lat && *lat >= -90.0 && *lat <= 90.0) {
      s.hcn_latitude = *lat;
    } else {
      host.showMessage("Latitude must be a number of decimal degrees from -90 to 90.");
      result = 0;
    }
  }

  if (result == 1) {
    host.setCounter("File names loaded");
    s.precip_header.clear();
    s.tmean_header.clear();
    format.nextRecord(*s.precip_data, s.precip_header);
    format.nextRecord(*s.tmean_data, s.tmean_header);
    if (format.headerOk != nullptr) {
      if (!format.headerOk(s.precip_header)) {
        host.showMessage(format.precipHeaderMessage);
        result = 0;
      }
      if (!format.headerOk(s.tmean_header)) {
        host.showMessage(format.tmeanHeaderMessage);
        result = 0;
      }
    }
  }

  if (result != 1) {
    // A refused run keeps no file open.
    s.precip_data.reset();
    s.tmean_data.reset();
  }
  return result;
}

}  // namespace vadoset
