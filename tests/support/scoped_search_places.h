// Places where the system looks for a library loaded by name, changed for a
// test: the working directory and PATH.
#ifndef TALVOR_TESTS_SUPPORT_SCOPED_SEARCH_PLACES_H_
#define TALVOR_TESTS_SUPPORT_SCOPED_SEARCH_PLACES_H_

#include <windows.h>

#include <string>

namespace talvor::test {

// Makes `folder` the working directory and puts it first on PATH, for the
// scope.
class ScopedSearchPlaces {
 public:
  explicit ScopedSearchPlaces(const std::wstring& folder) {
    wchar_t directory[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, directory);
    previous_directory_ = directory;
    std::wstring path(32768, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
    previous_path_ = path;
    SetCurrentDirectoryW(folder.c_str());
    SetEnvironmentVariableW(L"PATH", (folder + L";" + previous_path_).c_str());
  }
  ~ScopedSearchPlaces() {
    SetCurrentDirectoryW(previous_directory_.c_str());
    SetEnvironmentVariableW(L"PATH", previous_path_.c_str());
  }
  ScopedSearchPlaces(const ScopedSearchPlaces&) = delete;
  ScopedSearchPlaces& operator=(const ScopedSearchPlaces&) = delete;

 private:
  std::wstring previous_directory_;
  std::wstring previous_path_;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_SCOPED_SEARCH_PLACES_H_
