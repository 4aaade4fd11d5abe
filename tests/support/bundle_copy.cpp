#include "tests/support/bundle_copy.h"

#include <windows.h>

#include <atomic>
#include <system_error>
#include <utility>

namespace talvor::test {

namespace fs = std::filesystem;

std::optional<BundleCopy> BundleCopy::Make(const fs::path& bundle) {
  static std::atomic<unsigned> counter{0};
  std::error_code error;
  const fs::path target = fs::temp_directory_path(error) /
                          (L"talvor-bundle-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                           std::to_wstring(++counter) + L"-" + std::to_wstring(GetTickCount64()));
  if (error || !fs::create_directories(target, error)) return std::nullopt;
  BundleCopy copy(target);
  fs::copy(bundle, target, fs::copy_options::recursive, error);
  if (error) return std::nullopt;
  return copy;
}

BundleCopy::BundleCopy(BundleCopy&& other) noexcept : path_(std::exchange(other.path_, fs::path())) {}

BundleCopy& BundleCopy::operator=(BundleCopy&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, fs::path());
  }
  return *this;
}

BundleCopy::~BundleCopy() { Remove(); }

void BundleCopy::Remove() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::remove_all(path_, ignored);
  path_.clear();
}

}  // namespace talvor::test
