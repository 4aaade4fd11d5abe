#pragma once

#include <string>
#include <vector>

namespace talvor::test {

// Captures everything the process writes to its standard error stream
// (descriptor 2, so std::cerr and stdio alike) between construction and
// Finish(). Only one capture may be active at a time.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Stops capturing and returns the text written meanwhile.
  std::string Finish();

  // Stops capturing and returns the text split into lines, line ends removed.
  std::vector<std::string> Lines();

 private:
  bool active_ = true;
  std::string text_;
};

}  // namespace talvor::test
