#include "runner/url_scheme.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/system_state.h"
#include "tests/support/talvor_program.h"

namespace {

using talvor::test::DeleteRegistryTree;
using talvor::test::ExpectUrlSchemeRegisteredFor;
using talvor::test::kUrlSchemeKey;
using talvor::test::RegistryKeyExists;

class RegisterUrlSchemeTest : public testing::Test {
 protected:
  void SetUp() override { had_scheme_ = RegistryKeyExists(HKEY_CURRENT_USER, kUrlSchemeKey); }
  void TearDown() override {
    if (!had_scheme_) DeleteRegistryTree(HKEY_CURRENT_USER, kUrlSchemeKey);
  }

  bool had_scheme_ = false;
};

TEST_F(RegisterUrlSchemeTest, WritesTheFourValuesForAPathWithBlanks) {
  const std::wstring executable = L"C:\\Program Files\\Talvor VPN\\talvor_app.exe";
  RegisterUrlScheme(executable);
  ExpectUrlSchemeRegisteredFor(executable);
}

TEST_F(RegisterUrlSchemeTest, EveryRunRewritesTheRegistration) {
  RegisterUrlScheme(L"C:\\Old Place\\talvor_app.exe");
  const std::wstring moved = L"D:\\Apps\\Талвор\\talvor_app.exe";
  RegisterUrlScheme(moved);
  ExpectUrlSchemeRegisteredFor(moved);
}

}  // namespace
