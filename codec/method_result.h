#pragma once

#include <string>

#include "codec/encodable_value.h"

namespace flutter {

// Receives the outcome of one method call. Every implementation expects
// exactly one of the three operations, called once.
template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  // `result` is null for a success without a value.
  virtual void Success(const T* result) = 0;

  // `error_details` is null when there are none.
  virtual void Error(const std::string& error_code, const std::string& error_message,
                     const T* error_details) = 0;

  virtual void NotImplemented() = 0;
};

}  // namespace flutter
