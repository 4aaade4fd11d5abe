// Changes one registry value for the length of a test and puts back what was
// there before (or removes the value when there was none).
#ifndef TALVOR_TESTS_SUPPORT_REGISTRY_VALUE_GUARD_H_
#define TALVOR_TESTS_SUPPORT_REGISTRY_VALUE_GUARD_H_

#include <windows.h>

#include <string>
#include <vector>

namespace talvor::test {

class RegistryValueGuard {
 public:
  RegistryValueGuard(HKEY root, std::wstring subkey, std::wstring name);
  ~RegistryValueGuard();

  RegistryValueGuard(const RegistryValueGuard&) = delete;
  RegistryValueGuard& operator=(const RegistryValueGuard&) = delete;

  bool SetDword(DWORD value) const;
  bool SetString(const std::wstring& value) const;
  bool Remove() const;

 private:
  bool Write(DWORD type, const void* data, DWORD size) const;

  HKEY root_;
  std::wstring subkey_;
  std::wstring name_;
  bool existed_ = false;
  DWORD type_ = REG_NONE;
  std::vector<BYTE> data_;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_REGISTRY_VALUE_GUARD_H_
