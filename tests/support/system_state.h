// What a program leaves in the system, read back by tests: registry values
// and files in the temporary directory.
#ifndef TALVOR_TESTS_SUPPORT_SYSTEM_STATE_H_
#define TALVOR_TESTS_SUPPORT_SYSTEM_STATE_H_

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talvor::test {

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> bytes;  // as stored, terminators included
};

// A value under `root`\`key`; `name` null for the default value. Empty when
// the key or the value does not exist.
std::optional<RegistryValue> ReadRegistryValue(HKEY root, const std::wstring& key, const wchar_t* name);
bool RegistryKeyExists(HKEY root, const std::wstring& key);
// Deletes the key with everything below it; true when it is gone.
bool DeleteRegistryTree(HKEY root, const std::wstring& key);

// The bytes a REG_SZ value holds for `text`: UTF-16 and its terminating zero.
std::vector<uint8_t> RegistryStringBytes(const std::wstring& text);

// The temporary directory as GetTempPathW gives it.
std::filesystem::path TemporaryDirectory();
// Files directly in the temporary directory whose names begin with `prefix`
// and end with `suffix` (compared without regard to case), sorted.
std::vector<std::filesystem::path> TemporaryFiles(const std::wstring& prefix, const std::wstring& suffix);

// The whole content of a file; empty when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& path);
bool WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_SYSTEM_STATE_H_
