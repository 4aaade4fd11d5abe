// Any bytes, decoded as a method call: a call that comes out must encode and
// decode back to the same name and arguments.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "codec/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace flutter;
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  talvor::fuzz::LineCounter& diagnostics = talvor::fuzz::Diagnostics();

  const std::unique_ptr<MethodCall<>> call = codec.DecodeMethodCall(data, size);
  if (!call) return 0;
  talvor::fuzz::Check(call->arguments() != nullptr, "a decoded call has no arguments value");

  diagnostics.lines = 0;
  const std::unique_ptr<std::vector<uint8_t>> encoded = codec.EncodeMethodCall(*call);
  const std::unique_ptr<MethodCall<>> again = codec.DecodeMethodCall(encoded->data(), encoded->size());
  talvor::fuzz::Check(again != nullptr, "an encoded call does not decode");
  talvor::fuzz::Check(again->method_name() == call->method_name(), "method name differs after a round trip");
  if (!talvor::fuzz::ReadsBackExactly(*call->arguments())) return 0;
  talvor::fuzz::Check(diagnostics.lines == 0, "a round trip wrote a diagnostic");
  talvor::fuzz::Check(talvor::test::Identical(*again->arguments(), *call->arguments()),
                      "arguments differ after a round trip");
  return 0;
}
