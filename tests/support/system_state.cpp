#include "tests/support/system_state.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include "runner/win32_handles.h"
#include "tests/support/wait.h"

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

std::vector<std::wstring> RegistrySubkeyNames(HKEY root, const std::wstring& key) {
  std::vector<std::wstring> names;
  UniqueRegistryKey opened;
  if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return names;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(opened.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.emplace_back(name, length);
  }
  return names;
}

bool DeleteRegistryTree(HKEY root, const std::wstring& key) {
  RegDeleteTreeW(root, key.c_str());
  return !RegistryKeyExists(root, key);
}

std::vector<uint8_t> RegistryStringBytes(const std::wstring& text) {
  const auto* begin = reinterpret_cast<const uint8_t*>(text.c_str());
  return std::vector<uint8_t>(begin, begin + (text.size() + 1) * sizeof(wchar_t));
}

RegistryValueGuard::RegistryValueGuard(HKEY root, std::wstring key, std::wstring name)
    : root_(root),
      key_(std::move(key)),
      name_(std::move(name)),
      previous_(ReadRegistryValue(root_, key_, name_.c_str())) {}

RegistryValueGuard::~RegistryValueGuard() {
  if (previous_) {
    Write(previous_->type, previous_->bytes.data(), static_cast<DWORD>(previous_->bytes.size()));
  } else {
    Remove();
  }
}

bool RegistryValueGuard::SetDword(DWORD value) const { return Write(REG_DWORD, &value, sizeof(value)); }

bool RegistryValueGuard::SetString(const std::wstring& value) const {
  const std::vector<uint8_t> bytes = RegistryStringBytes(value);
  return Write(REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
}

bool RegistryValueGuard::Remove() const {
  const LSTATUS status = RegDeleteKeyValueW(root_, key_.c_str(), name_.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool RegistryValueGuard::Write(DWORD type, const void* data, DWORD size) const {
  return RegSetKeyValueW(root_, key_.c_str(), name_.c_str(), type, data, size) == ERROR_SUCCESS;
}

std::wstring BuildPath(const char* configured) {
  const int count = MultiByteToWideChar(CP_UTF8, 0, configured, -1, nullptr, 0);
  std::wstring path(count > 0 ? static_cast<size_t>(count) : 1, L'\0');
  if (count > 0) MultiByteToWideChar(CP_UTF8, 0, configured, -1, path.data(), count);
  path.resize(path.size() - 1);
  wchar_t full[MAX_PATH * 4] = {};
  const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
  return length == 0 ? path : std::wstring(full, length);
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

bool FileExists(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error);
}

namespace {

// The host's path of a path under Wine; empty elsewhere.
std::string HostPath(const std::wstring& path) {
  using ToHostPath = char*(CDECL*)(const wchar_t*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const FARPROC procedure = kernel != nullptr ? GetProcAddress(kernel, "wine_get_unix_file_name") : nullptr;
  if (procedure == nullptr) return {};
  const auto to_host = reinterpret_cast<ToHostPath>(reinterpret_cast<void (*)()>(procedure));
  char* host = to_host(path.c_str());
  if (host == nullptr) return {};
  std::string result = host;
  HeapFree(GetProcessHeap(), 0, host);
  return result;
}

}  // namespace

namespace {

// Runs a program of the host with `arguments` (double-quoted as Windows
// splits a command line, not as a shell would): Wine starts one when asked
// to, and Z: is the host's root.
bool RunHostProgram(const wchar_t* program, const std::string& arguments) {
  std::wstring command_line(arguments.begin(), arguments.end());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(program, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &started)) {
    return false;
  }
  const UniqueKernelHandle process(started.hProcess);
  const UniqueKernelHandle thread(started.hThread);
  // Wine cannot wait for a program of the host: callers wait for its effect.
  return true;
}

// The host's path of `path`, whose folder exists.
std::string HostPathIn(const std::wstring& path) {
  const size_t separator = path.find_last_of(L'\\');
  if (separator == std::wstring::npos) return {};
  const std::string host_folder = HostPath(path.substr(0, separator));
  if (host_folder.empty()) return {};
  return host_folder + "/" + std::string(path.begin() + separator + 1, path.end());
}

}  // namespace

bool MakeHostSymlink(const std::wstring& target, const std::wstring& link) {
  const std::string host_target = HostPath(target);
  const std::string host_link = HostPathIn(link);
  if (host_target.empty() || host_link.empty() ||
      !RunHostProgram(L"Z:\\bin\\ln", "/bin/ln -s \"" + host_target + "\" \"" + host_link + "\"")) {
    return false;
  }
  return WaitUntil([&] { return GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES; },
                   std::chrono::seconds(10));
}

bool RemoveHostSymlink(const std::wstring& link) {
  const std::string host_link = HostPathIn(link);
  if (host_link.empty() || !RunHostProgram(L"Z:\\bin\\rm", "/bin/rm -f \"" + host_link + "\"")) return false;
  return WaitUntil([&] { return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES; },
                   std::chrono::seconds(5));
}

ScratchDirectory::ScratchDirectory(const std::wstring& name_hint, const std::wstring& parent) {
  static std::atomic<unsigned> counter{0};
  const fs::path temporary = parent.empty() ? TemporaryDirectory() : fs::path(parent);
  if (temporary.empty()) return;
  // Process ids come round again under Wine, and a folder that could not be
  // removed (a library still mapped from it) stays behind: the first name
  // that is free is taken, never a folder that exists.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const fs::path folder = temporary / (L"talvor-test-" + name_hint + L"-" + std::to_wstring(GetCurrentProcessId()) +
                                         L"-" + std::to_wstring(++counter));
    if (CreateDirectoryW(folder.c_str(), nullptr)) {
      path_ = folder.wstring();
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

ScratchDirectory::~ScratchDirectory() { Remove(); }

ScratchDirectory::ScratchDirectory(ScratchDirectory&& other) noexcept : path_(std::exchange(other.path_, {})) {}

ScratchDirectory& ScratchDirectory::operator=(ScratchDirectory&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, {});
  }
  return *this;
}

namespace {

// Whether the file at `path` lies elsewhere: Wine shows a link to a file as
// that file, with the final path of the file it leads to, and deleting the
// link deletes that file.
bool IsLinkToAFileElsewhere(const std::wstring& path) {
  const UniqueFileHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  std::wstring final_path(32768, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(file.get(), final_path.data(), static_cast<DWORD>(final_path.size()),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= final_path.size()) return false;
  return CompareStringOrdinal(final_path.c_str(), static_cast<int>(length), path.c_str(),
                              static_cast<int>(path.size()), TRUE) != CSTR_EQUAL;
}

// Removes a folder with everything in it through the system's long-path form,
// which reaches paths beyond MAX_PATH that tests make.
void RemoveTree(const std::wstring& folder) {
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A link goes, never what it leads to.
        if (!RemoveDirectoryW(path.c_str()) && !DeleteFileW(path.c_str())) RemoveHostSymlink(path);
      } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(path);
      } else if (IsLinkToAFileElsewhere(path)) {
        RemoveHostSymlink(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileW(path.c_str())) RemoveHostSymlink(path);
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

}  // namespace

void ScratchDirectory::Remove() {
  if (path_.empty()) return;
  RemoveTree(L"\\\\?\\" + path_);
  path_.clear();
}

std::optional<std::wstring> EnvironmentVariable(const wchar_t* name) {
  const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
  if (needed == 0) return std::nullopt;
  std::wstring value(needed, L'\0');
  const DWORD length = GetEnvironmentVariableW(name, value.data(), needed);
  value.resize(length < needed ? length : 0);
  return value;
}

ScopedEnvironmentVariable::ScopedEnvironmentVariable(const wchar_t* name, const wchar_t* value)
    : name_(name), previous_(EnvironmentVariable(name)) {
  SetEnvironmentVariableW(name, value);
}

ScopedEnvironmentVariable::~ScopedEnvironmentVariable() {
  SetEnvironmentVariableW(name_.c_str(), previous_ ? previous_->c_str() : nullptr);
}

}  // namespace talvor::test
