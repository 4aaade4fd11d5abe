#include "tests/support/method_result_recorder.h"

#include <utility>
#include <variant>

namespace talvor::test {

using flutter::EncodableValue;

std::string DescribeValue(const EncodableValue* value) {
  if (value == nullptr || value->IsNull()) return "null";
  if (const auto* flag = std::get_if<bool>(value)) return *flag ? "true" : "false";
  if (const auto* number = std::get_if<int32_t>(value)) return std::to_string(*number);
  if (const auto* text = std::get_if<std::string>(value)) return "'" + *text + "'";
  return "value of type " + std::to_string(value->index());
}

void MethodResultRecorder::Success(const EncodableValue* result) {
  code.clear();
  message.clear();
  value = result != nullptr ? std::optional<EncodableValue>(*result) : std::nullopt;
  Record(Outcome::kSuccess, "success " + DescribeValue(result));
}

void MethodResultRecorder::Error(const std::string& error_code, const std::string& error_message,
                                 const EncodableValue* error_details) {
  code = error_code;
  message = error_message;
  value = error_details != nullptr ? std::optional<EncodableValue>(*error_details) : std::nullopt;
  Record(Outcome::kError, "error " + error_code + " '" + error_message + "' " + DescribeValue(error_details));
}

void MethodResultRecorder::NotImplemented() {
  code.clear();
  message.clear();
  value.reset();
  Record(Outcome::kNotImplemented, "not implemented");
}

void MethodResultRecorder::Record(Outcome what, std::string described) {
  outcome = what;
  ++calls;
  description = std::move(described);
  if (log_ != nullptr) log_->push_back(description);
}

}  // namespace talvor::test
