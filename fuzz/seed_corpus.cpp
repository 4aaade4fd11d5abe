// Writes the seed corpora of the fuzz targets: every alternative, the size
// boundaries, nesting, and the calls and replies the program exchanges.
//
//   fuzz_seed_corpus OUTPUT_DIR   fills OUTPUT_DIR/{read_value,method_call,response_envelope}
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "codec/standard_method_codec.h"
#include "tests/codec/codec_test_helpers.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Seeds = std::vector<std::pair<std::string, EncodableValue>>;

Seeds EveryAlternative() {
  EncodableMap map{{EncodableValue("b"), EncodableValue(1)}, {EncodableValue("a"), EncodableValue(true)}};
  return {
      {"null", EncodableValue()},
      {"true", EncodableValue(true)},
      {"false", EncodableValue(false)},
      {"int32", EncodableValue(int32_t{-2})},
      {"int64", EncodableValue(std::numeric_limits<int64_t>::min())},
      {"double", EncodableValue(1.5)},
      {"string", EncodableValue("abc")},
      {"bytes", EncodableValue(std::vector<uint8_t>{0, 1, 255})},
      {"int32_list", EncodableValue(std::vector<int32_t>{1, -1})},
      {"int64_list", EncodableValue(std::vector<int64_t>{1, -1})},
      {"double_list", EncodableValue(std::vector<double>{0.5, -0.0})},
      {"list", EncodableValue(EncodableList{EncodableValue(1), EncodableValue("x"), EncodableValue(2.5)})},
      {"map", EncodableValue(map)},
      {"float_list", EncodableValue(std::vector<float>{0.5f, -1.0f})},
  };
}

Seeds SizeBoundaries() {
  Seeds seeds;
  for (size_t size : {253, 254, 65535, 65536}) {
    const std::string suffix = "_" + std::to_string(size);
    seeds.emplace_back("string" + suffix, EncodableValue(std::string(size, 's')));
    seeds.emplace_back("bytes" + suffix, EncodableValue(std::vector<uint8_t>(size, 7)));
  }
  for (size_t size : {253, 254}) {
    const std::string suffix = "_" + std::to_string(size);
    seeds.emplace_back("int32_list" + suffix, EncodableValue(std::vector<int32_t>(size, 3)));
    seeds.emplace_back("int64_list" + suffix, EncodableValue(std::vector<int64_t>(size, 3)));
    seeds.emplace_back("double_list" + suffix, EncodableValue(std::vector<double>(size, 3)));
    seeds.emplace_back("float_list" + suffix, EncodableValue(std::vector<float>(size, 3)));
    seeds.emplace_back("list" + suffix, EncodableValue(EncodableList(size, EncodableValue(true))));
  }
  return seeds;
}

Seeds Nesting() {
  EncodableValue deep(1);
  for (int i = 0; i < flutter::StandardCodecSerializer::kMaxNestingDepth; ++i) {
    deep = i % 2 ? EncodableValue(EncodableList{std::move(deep)}) : EncodableValue(EncodableMap{{EncodableValue(i), std::move(deep)}});
  }
  talvor::test::RandomValues random(1);
  Seeds seeds = {{"deepest", deep}};
  for (int i = 0; i < 8; ++i) seeds.emplace_back("random_" + std::to_string(i), random.Next(4));
  return seeds;
}

EncodableValue UpdateStatus() {
  return EncodableValue(EncodableMap{{EncodableValue("connected"), EncodableValue(true)},
                                     {EncodableValue("canToggle"), EncodableValue(true)},
                                     {EncodableValue("serverName"), EncodableValue("Франкфурт #2")}});
}

void Write(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_seed_corpus OUTPUT_DIR" << std::endl;
    return 2;
  }
  try {
    const std::filesystem::path root(argv[1]);
    for (const char* target : {"read_value", "method_call", "response_envelope"}) {
      std::filesystem::remove_all(root / target);
      std::filesystem::create_directories(root / target);
    }
    const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();

    Seeds values = EveryAlternative();
    for (Seeds more : {SizeBoundaries(), Nesting()}) values.insert(values.end(), more.begin(), more.end());
    values.emplace_back("update_status", UpdateStatus());
    for (const auto& [name, value] : values) Write(root / "read_value" / name, talvor::test::Encode(value));

    Seeds arguments = EveryAlternative();
    arguments.emplace_back("random", Nesting().back().second);
    for (const auto& [name, value] : arguments) {
      Write(root / "method_call" / name,
            *codec.EncodeMethodCall(flutter::MethodCall<>(name, std::make_unique<EncodableValue>(value))));
      Write(root / "response_envelope" / ("success_" + name), *codec.EncodeSuccessEnvelope(&value));
      Write(root / "response_envelope" / ("error_" + name), *codec.EncodeErrorEnvelope(name, "сообщение", &value));
    }
    Write(root / "method_call" / "update_status",
          *codec.EncodeMethodCall(flutter::MethodCall<>("updateStatus", std::make_unique<EncodableValue>(UpdateStatus()))));
    Write(root / "method_call" / "no_arguments", *codec.EncodeMethodCall(flutter::MethodCall<>("toggleConnection", nullptr)));
    Write(root / "response_envelope" / "success_empty", *codec.EncodeSuccessEnvelope(nullptr));
    Write(root / "response_envelope" / "error_bare", *codec.EncodeErrorEnvelope("invalid_arguments", "", nullptr));
  } catch (const std::exception& error) {
    std::cerr << "fuzz_seed_corpus: " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
