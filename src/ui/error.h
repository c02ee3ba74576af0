#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace vadoset {

/// The one root exception of the window and the About window. Handlers that
/// an error passes through may add to its message, so that the message box
/// at the top of the event loop shows the path it took.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message), message_(message) {}

  const char* what() const noexcept override { return message_.c_str(); }

  /// Adds text to the end of the message.
  void append(std::string_view text) { message_.append(text); }

 private:
  std::string message_;
};

/// Runs f; an error that leaves it gets a carriage return and `label`
/// appended to its message and is thrown on. Any other std::exception is
/// turned into an Error first, so that it is labelled too.
template <typename F>
void labelled(std::string_view label, F&& f) {
  try {
    f();
  } catch (Error& e) {
    e.append("\r");
    e.append(label);
    throw;
  } catch (const std::exception& e) {
    Error error(e.what());
    error.append("\r");
    error.append(label);
    throw error;
  }
}

}  // namespace vadoset
