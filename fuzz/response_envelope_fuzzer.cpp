// Any bytes, decoded as a reply: the result is informed at most once, only
// when decoding reports success, and an informed outcome encodes and decodes
// back to itself.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "codec/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

namespace {

using flutter::EncodableValue;

struct Recorder : flutter::MethodResult<EncodableValue> {
  void Success(const EncodableValue* result) override {
    ++calls;
    error = false;
    if (result) value = *result;
  }
  void Error(const std::string& error_code, const std::string& error_message,
             const EncodableValue* error_details) override {
    ++calls;
    error = true;
    code = error_code;
    message = error_message;
    if (error_details) value = *error_details;
  }
  void NotImplemented() override { talvor::fuzz::Fail("the codec called NotImplemented"); }

  int calls = 0;
  bool error = false;
  std::string code;
  std::string message;
  std::optional<EncodableValue> value;
};

// Decodes a reply; false when it is malformed (not an envelope, or an error
// envelope whose code or message has the wrong type).
bool Decode(const std::vector<uint8_t>& bytes, Recorder* recorder) {
  bool decoded = false;
  try {
    decoded = flutter::StandardMethodCodec::GetInstance().DecodeResponseEnvelope(bytes.data(), bytes.size(), recorder);
  } catch (const std::bad_variant_access&) {
    talvor::fuzz::Check(recorder->calls == 0, "a malformed error reply informed the result");
    return false;
  }
  talvor::fuzz::Check(recorder->calls == (decoded ? 1 : 0), "the result was not informed exactly once");
  return decoded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  talvor::fuzz::LineCounter& diagnostics = talvor::fuzz::Diagnostics();

  Recorder first;
  if (!Decode(std::vector<uint8_t>(data, data + size), &first)) return 0;

  diagnostics.lines = 0;
  const EncodableValue* value = first.value ? &*first.value : nullptr;
  const std::unique_ptr<std::vector<uint8_t>> encoded =
      first.error ? codec.EncodeErrorEnvelope(first.code, first.message, value) : codec.EncodeSuccessEnvelope(value);
  Recorder second;
  talvor::fuzz::Check(Decode(*encoded, &second), "an encoded reply does not decode");
  talvor::fuzz::Check(second.error == first.error && second.code == first.code && second.message == first.message,
                      "reply differs after a round trip");
  talvor::fuzz::Check(second.value.has_value() == first.value.has_value(), "reply value appeared or vanished");
  if (value == nullptr || !talvor::fuzz::ReadsBackExactly(*value)) return 0;
  talvor::fuzz::Check(diagnostics.lines == 0, "a round trip wrote a diagnostic");
  talvor::fuzz::Check(talvor::test::Identical(*second.value, *value), "reply value differs after a round trip");
  return 0;
}
