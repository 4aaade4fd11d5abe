#include "tests/support/system_state.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <system_error>

#include "runner/win32_handles.h"

namespace talvor::test {

namespace fs = std::filesystem;

namespace {

bool EndsWithIgnoringCase(const std::wstring& text, const std::wstring& ending) {
  return text.size() >= ending.size() &&
         CompareStringOrdinal(text.c_str() + text.size() - ending.size(), static_cast<int>(ending.size()),
                              ending.c_str(), static_cast<int>(ending.size()), TRUE) == CSTR_EQUAL;
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& start) {
  return text.size() >= start.size() &&
         CompareStringOrdinal(text.c_str(), static_cast<int>(start.size()), start.c_str(),
                              static_cast<int>(start.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::optional<RegistryValue> ReadRegistryValue(HKEY root, const std::wstring& key, const wchar_t* name) {
  UniqueRegistryKey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_QUERY_VALUE, opened.put()) != ERROR_SUCCESS) return std::nullopt;
  RegistryValue value;
  DWORD size = 0;
  if (RegQueryValueExW(opened.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.bytes.resize(size);
  if (RegQueryValueExW(opened.get(), name, nullptr, &value.type, value.bytes.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.bytes.resize(size);
  return value;
}

bool RegistryKeyExists(HKEY root, const std::wstring& key) {
  UniqueRegistryKey opened;
  return RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

bool DeleteRegistryTree(HKEY root, const std::wstring& key) {
  RegDeleteTreeW(root, key.c_str());
  return !RegistryKeyExists(root, key);
}

std::vector<uint8_t> RegistryStringBytes(const std::wstring& text) {
  const auto* begin = reinterpret_cast<const uint8_t*>(text.c_str());
  return std::vector<uint8_t>(begin, begin + (text.size() + 1) * sizeof(wchar_t));
}

fs::path TemporaryDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  return length == 0 || length > MAX_PATH ? fs::path() : fs::path(std::wstring(buffer, length));
}

std::vector<fs::path> TemporaryFiles(const std::wstring& prefix, const std::wstring& suffix) {
  std::vector<fs::path> found;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(TemporaryDirectory(), error)) {
    const std::wstring name = entry.path().filename().wstring();
    if (StartsWithIgnoringCase(name, prefix) && EndsWithIgnoringCase(name, suffix)) found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::optional<std::string> ReadFileBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool WriteFileBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

}  // namespace talvor::test
