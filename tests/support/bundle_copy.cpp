#include "tests/support/bundle_copy.h"

#include <system_error>

namespace talvor::test {

namespace fs = std::filesystem;

std::optional<BundleCopy> BundleCopy::Make(const fs::path& bundle, const std::wstring& parent) {
  ScratchDirectory folder(L"bundle", parent);
  if (folder.path().empty()) return std::nullopt;
  std::error_code error;
  fs::copy(bundle, fs::path(folder.path()), fs::copy_options::recursive, error);
  if (error) return std::nullopt;
  return BundleCopy(std::move(folder));
}

}  // namespace talvor::test
