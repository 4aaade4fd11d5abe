#include "runner/url_scheme.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runner/win32_handles.h"

namespace {

constexpr wchar_t kSchemeKey[] = L"Software\\Classes\\talvor";

struct RegistryValue {
  DWORD type = 0;
  std::string bytes;
};

RegistryValue ReadValue(const std::wstring& key_name, const wchar_t* value_name) {
  talvor::UniqueRegistryKey key;
  RegistryValue value;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key_name.c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    return value;
  }
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), value_name, nullptr, &value.type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return value;
  }
  value.bytes.resize(size);
  RegQueryValueExW(key.get(), value_name, nullptr, &value.type,
                   reinterpret_cast<BYTE*>(value.bytes.data()), &size);
  value.bytes.resize(size);
  return value;
}

// The bytes of a REG_SZ value: UTF-16 with its terminating zero.
std::string StoredString(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()),
                     (text.size() + 1) * sizeof(wchar_t));
}

class RegisterUrlSchemeTest : public testing::Test {
 protected:
  void SetUp() override {
    talvor::UniqueRegistryKey existing;
    had_scheme_ = RegOpenKeyExW(HKEY_CURRENT_USER, kSchemeKey, 0, KEY_READ, existing.put()) ==
                  ERROR_SUCCESS;
  }
  void TearDown() override {
    if (!had_scheme_) RegDeleteTreeW(HKEY_CURRENT_USER, kSchemeKey);
  }

  void ExpectRegisteredFor(const std::wstring& executable) {
    const std::wstring base = kSchemeKey;
    const RegistryValue description = ReadValue(base, nullptr);
    EXPECT_EQ(description.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(description.bytes, StoredString(L"URL:Talvor Protocol"));

    const RegistryValue protocol = ReadValue(base, L"URL Protocol");
    EXPECT_EQ(protocol.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(protocol.bytes, std::string(2, '\0'));

    const RegistryValue icon = ReadValue(base + L"\\DefaultIcon", nullptr);
    EXPECT_EQ(icon.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(icon.bytes, StoredString(executable + L",0"));

    const RegistryValue command = ReadValue(base + L"\\shell\\open\\command", nullptr);
    EXPECT_EQ(command.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(command.bytes, StoredString(L"\"" + executable + L"\" \"%1\""));
  }

  bool had_scheme_ = false;
};

TEST_F(RegisterUrlSchemeTest, WritesTheFourValuesForAPathWithBlanks) {
  const std::wstring executable = L"C:\\Program Files\\Talvor VPN\\talvor_app.exe";
  RegisterUrlScheme(executable);
  ExpectRegisteredFor(executable);
}

TEST_F(RegisterUrlSchemeTest, EveryRunRewritesTheRegistration) {
  RegisterUrlScheme(L"C:\\Old Place\\talvor_app.exe");
  const std::wstring moved = L"D:\\Apps\\Талвор\\talvor_app.exe";
  RegisterUrlScheme(moved);
  ExpectRegisteredFor(moved);
}

}  // namespace
