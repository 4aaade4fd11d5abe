// The restricted library search, in a test program of its own: it holds for
// the rest of the process.
#include "runner/library_search.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "runner/utils.h"
#include "tests/support/system_state.h"
#include "tests/support/scoped_search_places.h"

namespace {

using talvor::test::BuildPath;
using talvor::test::ScopedSearchPlaces;

// A copy of a library placed under a file name of its own, removed again.
class PlacedLibrary {
 public:
  explicit PlacedLibrary(std::filesystem::path path) : path_(std::move(path)) {
    std::filesystem::copy_file(std::filesystem::path(BuildPath(TALVOR_PLANTED_LIBRARY)), path_);
  }
  ~PlacedLibrary() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
    std::filesystem::remove(path_.wstring() + L".loaded", ignored);
  }
  PlacedLibrary(const PlacedLibrary&) = delete;
  PlacedLibrary& operator=(const PlacedLibrary&) = delete;

  std::wstring name() const { return path_.filename().wstring(); }

 private:
  std::filesystem::path path_;
};

bool LoadsByName(const std::wstring& name) {
  return static_cast<bool>(talvor::UniqueModule(LoadLibraryW(name.c_str())));
}

TEST(LibrarySearch, ALibraryBesideTheProgramInTheWorkingDirectoryOrOnPathIsNotTakenByName) {
  talvor::test::ScratchDirectory folder(L"planted");
  const std::wstring suffix = std::to_wstring(GetCurrentProcessId()) + L".dll";
  const PlacedLibrary beside_program(std::filesystem::path(ModuleFilePath()).parent_path() /
                                     (L"plantedbeside" + suffix));
  const PlacedLibrary in_folder(std::filesystem::path(folder.File(L"plantedelsewhere" + suffix)));
  const ScopedSearchPlaces places(folder.path());
  // Found by name before: the test would show nothing otherwise.
  ASSERT_TRUE(LoadsByName(beside_program.name()));
  ASSERT_TRUE(LoadsByName(in_folder.name()));

  RestrictLibrarySearchToSystemFolder();
  EXPECT_FALSE(LoadsByName(beside_program.name()));
  EXPECT_FALSE(LoadsByName(in_folder.name()));
  EXPECT_TRUE(LoadsByName(L"dwmapi.dll")) << "system libraries are still found by name";
}

}  // namespace
