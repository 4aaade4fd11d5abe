#include "embedding/unhandled_exception.h"

#include <exception>
#include <iostream>
#include <string>

namespace flutter {

namespace {

std::string DescribeCurrentException() {
  try {
    throw;
  } catch (const std::exception& exception) {
    return exception.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace

void WriteUnhandledException(const char* context) noexcept {
  try {
    std::cerr << context << DescribeCurrentException() << std::endl;
  } catch (...) {
    // Nothing more can be reported; the point is that nothing escapes.
  }
}

}  // namespace flutter
