#pragma once

// Shared by the fuzz targets: counting diagnostic lines instead of printing
// them, failing loudly, and deciding when a decoded value must come back
// from its own encoding exactly.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "tests/codec/codec_test_helpers.h"

namespace talvor::fuzz {

// Stands in for standard error: counts the diagnostic lines, prints nothing.
class LineCounter : public std::streambuf {
 public:
  size_t lines = 0;

 protected:
  int_type overflow(int_type c) override {
    if (c == '\n') ++lines;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    for (std::streamsize i = 0; i < count; ++i) {
      if (text[i] == '\n') ++lines;
    }
    return count;
  }
};

inline LineCounter& Diagnostics() {
  static LineCounter* counter = [] {
    static LineCounter instance;
    std::cerr.rdbuf(&instance);
    return &instance;
  }();
  return *counter;
}

[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "round trip broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

template <typename T>
bool AnyNan(const std::vector<T>& numbers) {
  for (T number : numbers) {
    if (std::isnan(number)) return true;
  }
  return false;
}

inline bool HoldsNan(const flutter::EncodableValue& value) {
  if (const double* number = std::get_if<double>(&value)) return std::isnan(*number);
  if (const auto* numbers = std::get_if<std::vector<double>>(&value)) return AnyNan(*numbers);
  if (const auto* numbers = std::get_if<std::vector<float>>(&value)) return AnyNan(*numbers);
  if (const auto* list = std::get_if<flutter::EncodableList>(&value)) {
    for (const auto& element : *list) {
      if (HoldsNan(element)) return true;
    }
  }
  if (const auto* map = std::get_if<flutter::EncodableMap>(&value)) {
    for (const auto& [key, entry] : *map) {
      if (HoldsNan(key) || HoldsNan(entry)) return true;
    }
  }
  return false;
}

// A value reads back from its own encoding exactly unless a map key holds
// NaN (NaN has no consistent order, so a map may keep different keys when
// rebuilt).
inline bool ReadsBackExactly(const flutter::EncodableValue& value) {
  if (const auto* list = std::get_if<flutter::EncodableList>(&value)) {
    for (const auto& element : *list) {
      if (!ReadsBackExactly(element)) return false;
    }
  }
  if (const auto* map = std::get_if<flutter::EncodableMap>(&value)) {
    for (const auto& [key, entry] : *map) {
      if (HoldsNan(key) || !ReadsBackExactly(key) || !ReadsBackExactly(entry)) return false;
    }
  }
  return true;
}

}  // namespace talvor::fuzz
