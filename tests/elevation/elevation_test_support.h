// Helpers of the elevation tests.
#ifndef TALVOR_TESTS_ELEVATION_ELEVATION_TEST_SUPPORT_H_
#define TALVOR_TESTS_ELEVATION_ELEVATION_TEST_SUPPORT_H_

#include <windows.h>

#include <optional>
#include <string>

namespace talvor::test {

// Sets an environment variable of this process and restores it afterwards.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value);
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> previous_;
};

// The user's temporary directory as the system gives it (ends in '\').
std::wstring TemporaryDirectory();

// The whole content of a file, or nothing when it cannot be read.
std::optional<std::string> FileBytes(const std::wstring& path);

bool FileExists(const std::wstring& path);

void WriteFileBytes(const std::wstring& path, const std::string& bytes);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_ELEVATION_ELEVATION_TEST_SUPPORT_H_
