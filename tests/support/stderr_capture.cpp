#include "tests/support/stderr_capture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>

namespace talvor::test {

StderrCapture::StderrCapture() {
  std::cerr.flush();
  std::fflush(stderr);
  testing::internal::CaptureStderr();
}

StderrCapture::~StderrCapture() { Finish(); }

std::string StderrCapture::Finish() {
  if (active_) {
    std::cerr.flush();
    std::fflush(stderr);
    text_ = testing::internal::GetCapturedStderr();
    active_ = false;
  }
  return text_;
}

std::vector<std::string> StderrCapture::Lines() {
  const std::string text = Finish();
  std::vector<std::string> lines;
  std::string::size_type start = 0;
  while (start < text.size()) {
    std::string::size_type end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace talvor::test
