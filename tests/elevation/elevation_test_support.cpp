#include "tests/elevation/elevation_test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace talvor::test {

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const wchar_t* name,
                                                     const std::wstring& value)
    : name_(name) {
  wchar_t buffer[32768] = {};
  if (GetEnvironmentVariableW(name, buffer, 32768) > 0) previous_ = std::wstring(buffer);
  SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
}

std::wstring TemporaryDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return std::wstring(buffer, length);
}

std::optional<std::string> FileBytes(const std::wstring& path) {
  std::ifstream file(std::filesystem::path(path), std::ios::binary);
  if (!file) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

bool FileExists(const std::wstring& path) {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::path(path), error);
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream file(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace talvor::test
