// What tests read back from the system and change in it for a while:
// registry values, files in the temporary directory, scratch folders and
// environment variables.
#ifndef TALVOR_TESTS_SUPPORT_SYSTEM_STATE_H_
#define TALVOR_TESTS_SUPPORT_SYSTEM_STATE_H_

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace talvor::test {

// --- Registry ---

struct RegistryValue {
  DWORD type = REG_NONE;
  std::vector<uint8_t> bytes;  // as stored, terminators included
};

// A value under `root`\`key`; `name` null (or empty) for the default value.
// Empty when the key or the value does not exist.
std::optional<RegistryValue> ReadRegistryValue(HKEY root, const std::wstring& key, const wchar_t* name);
bool RegistryKeyExists(HKEY root, const std::wstring& key);
// The names of the keys directly below `key`, in the registry's order.
std::vector<std::wstring> RegistrySubkeyNames(HKEY root, const std::wstring& key);
// Deletes the key with everything below it; true when it is gone.
bool DeleteRegistryTree(HKEY root, const std::wstring& key);

// The bytes a REG_SZ value holds for `text`: UTF-16 and its terminating zero.
std::vector<uint8_t> RegistryStringBytes(const std::wstring& text);

// Changes one registry value for the length of a test and puts back what was
// there before (or removes the value when there was none).
class RegistryValueGuard {
 public:
  RegistryValueGuard(HKEY root, std::wstring key, std::wstring name);
  ~RegistryValueGuard();
  RegistryValueGuard(const RegistryValueGuard&) = delete;
  RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;

  bool SetDword(DWORD value) const;
  bool SetString(const std::wstring& value) const;
  bool Remove() const;

 private:
  bool Write(DWORD type, const void* data, DWORD size) const;

  HKEY root_;
  std::wstring key_;
  std::wstring name_;
  std::optional<RegistryValue> previous_;
};

// --- Files ---

// A path the build configured (UTF-8, as the build system knows it) as a full
// path of this machine; under Wine the build's paths become drive-relative.
std::wstring BuildPath(const char* configured);
// The temporary directory as GetTempPathW gives it (ending in '\').
std::filesystem::path TemporaryDirectory();
// Files directly in the temporary directory whose names begin with `prefix`
// and end with `suffix` (compared without regard to case), sorted.
std::vector<std::filesystem::path> TemporaryFiles(const std::wstring& prefix, const std::wstring& suffix);

// The whole content of a file; empty when it cannot be read.
std::optional<std::string> ReadFileBytes(const std::filesystem::path& path);
bool WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);
bool FileExists(const std::filesystem::path& path);

// A symbolic link of the host's file system (under Wine: a Linux symlink,
// which Wine shows as a link; Wine cannot make one itself) at `link`, to
// `target`. True once `link` is there.
bool MakeHostSymlink(const std::wstring& target, const std::wstring& link);
// Removes such a link (not what it leads to); true once it is gone.
bool RemoveHostSymlink(const std::wstring& link);

// A fresh folder in the temporary directory, named after `name_hint` (which
// may hold blanks and any letters), removed with its contents.
class ScratchDirectory {
 public:
  // In `parent` when given, else in the temporary directory.
  explicit ScratchDirectory(const std::wstring& name_hint = L"test", const std::wstring& parent = {});
  ~ScratchDirectory();
  ScratchDirectory(ScratchDirectory&& other) noexcept;
  ScratchDirectory& operator=(ScratchDirectory&& other) noexcept;
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  // Empty when the folder could not be made.
  const std::wstring& path() const { return path_; }
  std::wstring File(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  void Remove();

  std::wstring path_;
};

// --- Environment ---

// Sets an environment variable of this process (null: removes it) and puts
// back its former value afterwards. Processes started meanwhile inherit it.
class ScopedEnvironmentVariable {
 public:
  ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value);
  ScopedEnvironmentVariable(const wchar_t* name, const std::wstring& value)
      : ScopedEnvironmentVariable(name, value.c_str()) {}
  ~ScopedEnvironmentVariable();
  ScopedEnvironmentVariable(const ScopedEnvironmentVariable&) = delete;
  ScopedEnvironmentVariable& operator=(const ScopedEnvironmentVariable&) = delete;

 private:
  std::wstring name_;
  std::optional<std::wstring> previous_;
};

// The variable's value; empty when it is not set.
std::optional<std::wstring> EnvironmentVariable(const wchar_t* name);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_SYSTEM_STATE_H_
