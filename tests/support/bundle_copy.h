// The build's bundle (the program beside the stand-ins), and copies of it for
// tests that change a file. A test program finds the bundle once its CMake
// calls talvor_test_uses_bundle(target).
#ifndef TALVOR_TESTS_SUPPORT_BUNDLE_COPY_H_
#define TALVOR_TESTS_SUPPORT_BUNDLE_COPY_H_

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#include "tests/support/child_process.h"
#include "tests/support/system_state.h"

namespace talvor::test {

#if defined(TALVOR_TEST_BUNDLE_FROM_TEST) && defined(TALVOR_TEST_CORE_VARIANTS_FROM_TEST)
// build/<preset>/bundle.
inline std::filesystem::path BundleDirectory() {
  return std::filesystem::path(TestExecutableDirectory()) / TALVOR_TEST_BUNDLE_FROM_TEST;
}

// talvor.dll lacking some exports: "lacking_bridge_stop_and_version",
// "lacking_version".
inline std::filesystem::path CoreVariant(const std::string& name) {
  return std::filesystem::path(TestExecutableDirectory()) / TALVOR_TEST_CORE_VARIANTS_FROM_TEST / name / "talvor.dll";
}
#endif

// The machine's 64-bit Program Files folder as Wine names it: a copy there is
// installed where standard users cannot change it.
inline constexpr wchar_t kProgramFilesFolder[] = L"C:\\Program Files";

// A copy of a bundle in a fresh scratch folder (in `parent` when given, else
// in the temporary directory), removed again with this object.
class BundleCopy {
 public:
  static std::optional<BundleCopy> Make(const std::filesystem::path& bundle,
                                        const std::wstring& parent = {});

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const { return path_ / relative; }

 private:
  explicit BundleCopy(ScratchDirectory folder) : folder_(std::move(folder)), path_(folder_.path()) {}

  ScratchDirectory folder_;
  std::filesystem::path path_;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_BUNDLE_COPY_H_
