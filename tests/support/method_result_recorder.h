// A method result that remembers what it was told, for tests of the code that
// answers method calls and of the code that decodes answers.
#ifndef TALVOR_TESTS_SUPPORT_METHOD_RESULT_RECORDER_H_
#define TALVOR_TESTS_SUPPORT_METHOD_RESULT_RECORDER_H_

#include <optional>
#include <string>
#include <vector>

#include "codec/encodable_value.h"
#include "codec/method_result.h"

namespace talvor::test {

// A value as one short text: "null" (also for no value at all), "true",
// "7", "'text'", or "value of type N" for the other alternatives.
std::string DescribeValue(const flutter::EncodableValue* value);

class MethodResultRecorder : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  enum class Outcome { kNone, kSuccess, kError, kNotImplemented };

  MethodResultRecorder() = default;
  // Also appends each answer, described, to `log` (which outlives the
  // recorder): "success <value>", "error <code> '<message>' <details>",
  // "not implemented".
  explicit MethodResultRecorder(std::vector<std::string>* log) : log_(log) {}

  void Success(const flutter::EncodableValue* result) override;
  void Error(const std::string& error_code, const std::string& error_message,
             const flutter::EncodableValue* error_details) override;
  void NotImplemented() override;

  // The last answer; `calls` counts them all.
  Outcome outcome = Outcome::kNone;
  int calls = 0;
  std::string code;
  std::string message;
  std::optional<flutter::EncodableValue> value;  // result or details; empty when none was given
  std::string description;                       // as in the log; empty before the first answer

 private:
  void Record(Outcome what, std::string described);

  std::vector<std::string>* log_ = nullptr;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_METHOD_RESULT_RECORDER_H_
