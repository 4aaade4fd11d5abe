#include "tests/support/registry_value_guard.h"

#include <utility>

namespace talvor::test {

RegistryValueGuard::RegistryValueGuard(HKEY root, std::wstring subkey, std::wstring name)
    : root_(root), subkey_(std::move(subkey)), name_(std::move(name)) {
  DWORD size = 0;
  if (RegGetValueW(root_, subkey_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type_,
                   nullptr, &size) != ERROR_SUCCESS) {
    return;
  }
  data_.resize(size);
  existed_ = RegGetValueW(root_, subkey_.c_str(), name_.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                          &type_, data_.data(), &size) == ERROR_SUCCESS;
  data_.resize(size);
}

RegistryValueGuard::~RegistryValueGuard() {
  if (existed_) {
    Write(type_, data_.data(), static_cast<DWORD>(data_.size()));
  } else {
    Remove();
  }
}

bool RegistryValueGuard::SetDword(DWORD value) const {
  return Write(REG_DWORD, &value, sizeof(value));
}

bool RegistryValueGuard::SetString(const std::wstring& value) const {
  return Write(REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool RegistryValueGuard::Remove() const {
  const LSTATUS status = RegDeleteKeyValueW(root_, subkey_.c_str(), name_.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool RegistryValueGuard::Write(DWORD type, const void* data, DWORD size) const {
  return RegSetKeyValueW(root_, subkey_.c_str(), name_.c_str(), type, data, size) ==
         ERROR_SUCCESS;
}

}  // namespace talvor::test
